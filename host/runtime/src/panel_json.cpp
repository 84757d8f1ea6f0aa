/// \file panel_json.cpp  Knob settings from JSON and the panel described as JSON.
#include <charconv>
#include <cmath>
#include <utility>
#include <vector>

#include "DDImageHost/PanelJson.h"
#include "DDImageHost/Registry.h"
#include "knob_value.h"
#include "text/strings.h"

namespace DD::Image {
namespace {

using nlohmann::json;

// Whether arrays or objects nest more than `limit` deep in `value`. Looks no deeper than that, without
// recursion, so a hostile file cannot run it out of stack.
bool nests_deeper_than(const json& value, int limit) {
  std::vector<std::pair<const json*, int>> pending{{&value, 0}};
  while (!pending.empty()) {
    const auto [v, depth] = pending.back();
    pending.pop_back();
    if (!v->is_structured()) continue;
    if (depth == limit) return true;
    for (const json& child : *v) pending.emplace_back(&child, depth + 1);
  }
  return false;
}

std::string shown(const json& value) {
  if (value.is_string()) return quorlen::text::in_quotes(value.get_ref<const std::string&>());
  // Writing JSON text recurses once per level; a deeply nested value is shown by its kind alone.
  if (nests_deeper_than(value, 32)) return value.is_array() ? "[...]" : "{...}";
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// JSON has no NaN or infinity; they are written as the strings the text forms accept, so that a
// description read back through set_knob_json restores the same value.
json number(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return v;
}

// The float's shortest decimal form as a double, so 0.1f reads 0.1 rather than 0.10000000149011612 and
// still converts back to the same float.
json float_number(float v) {
  if (!std::isfinite(v)) return number(v);
  const std::string text = detail::float_text(v);
  double d = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

// A JSON number that is a whole number (1 or 1.0), as the integer text the text forms parse.
bool whole_number_text(const json& v, std::string& text) {
  if (v.is_number_unsigned()) {
    text = std::to_string(v.get<std::uint64_t>());
    return true;
  }
  if (v.is_number_integer()) {
    text = std::to_string(v.get<std::int64_t>());
    return true;
  }
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (!std::isfinite(d) || std::trunc(d) != d || std::fabs(d) > 9.0e15) return false;
    text = std::to_string(static_cast<std::int64_t>(d));
    return true;
  }
  return false;
}

enum class FloatFromJson { ok, not_a_number, out_of_range };

FloatFromJson float_from_json(const json& v, float& out) {
  if (v.is_string()) {
    switch (detail::parse_float(v.get_ref<const std::string&>(), out)) {
      case detail::FloatParse::ok:
        return FloatFromJson::ok;
      case detail::FloatParse::out_of_range:
        return FloatFromJson::out_of_range;
      default:
        return FloatFromJson::not_a_number;
    }
  }
  if (!v.is_number()) return FloatFromJson::not_a_number;
  const double d = v.get<double>();
  // A finite double that would round to infinity is beyond the float range; anything below the midpoint
  // between the largest float and 2^128 rounds to the largest float.
  if (std::isfinite(d) && std::fabs(d) >= 0x1.ffffffp127) return FloatFromJson::out_of_range;
  out = static_cast<float>(d);
  return FloatFromJson::ok;
}

bool parse_json(Knob& knob, const json& v, detail::PendingValue& value, std::string& error) {
  if (v.is_string()) return detail::parse_knob_text(knob, v.get_ref<const std::string&>(), value, error);
  const auto fail = [&](const std::string& problem) {
    error = detail::value_error(knob, shown(v), problem);
    return false;
  };
  const std::string not_accepted = "is not " + detail::accepted_forms(knob);

  if (knob.store() == Float_Store) {
    detail::PendingValue parsed;
    parsed.knob = &knob;
    const int n = knob.components();
    std::vector<const json*> parts;
    if (v.is_number()) {
      parts.push_back(&v);
    } else if (v.is_array() && static_cast<int>(v.size()) == n && n > 1) {
      for (const json& element : v) parts.push_back(&element);
    } else {
      return fail(not_accepted);
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
      switch (float_from_json(*parts[i], parsed.floats[i])) {
        case FloatFromJson::ok:
          break;
        case FloatFromJson::out_of_range:
          return fail("is outside the range of a 32-bit float (expected " + detail::accepted_forms(knob) +
                      ")");
        default:
          return fail(not_accepted);
      }
    }
    if (parts.size() == 1)
      for (int i = 1; i < n; ++i) parsed.floats[i] = parsed.floats[0];
    value = parsed;
    return true;
  }

  if (knob.store() == Bool_Store && v.is_boolean())
    return detail::parse_knob_text(knob, v.get<bool>() ? "on" : "off", value, error);
  // Indexes, bit numbers and 0/1 for checkboxes follow the text rules; the message shows the JSON value.
  std::string text;
  if (knob.store() != No_Store && whole_number_text(v, text))
    return detail::parse_knob_text(knob, text, value, error, shown(v));
  return fail(not_accepted);
}

const char* kind_name(const Knob& knob) {
  switch (knob.kind()) {
    case Text_Kind:
      return knob.text() ? "text" : "divider";
    case Enumeration_Kind:
      return "enumeration";
    case Bitmask_Kind:
      return "bitmask";
    case Bool_Kind:
      return "checkbox";
    case Float_Kind:
      return knob.components() == 3 ? "float_array" : "float";
    case XYZ_Kind:
      return "xyz";
    case Color_Kind:
      return "color";
    default:
      return "unknown";
  }
}

json optional_string(const char* s) { return s ? json(s) : json(nullptr); }

json knob_value(const Knob& knob) {
  if (!knob.field()) return nullptr;
  switch (knob.store()) {
    case Float_Store: {
      const auto* v = static_cast<const float*>(knob.field());
      if (knob.components() == 1) return float_number(v[0]);
      json out = json::array();
      for (int i = 0; i < knob.components(); ++i) out.push_back(float_number(v[i]));
      return out;
    }
    case Enumeration_Store:
    case Bitmask_Store:
      return *static_cast<const std::int32_t*>(knob.field());
    case Bool_Store:
      return *static_cast<const bool*>(knob.field());
    default:
      return nullptr;
  }
}

json describe_knob(const Knob& knob, std::size_t index) {
  json out;
  out["index"] = index;
  out["kind"] = kind_name(knob);
  out["kind_code"] = knob.kind();
  out["store_code"] = static_cast<int>(knob.store());
  out["name"] = optional_string(knob.name());
  out["label"] = optional_string(knob.label());
  out["text"] = optional_string(knob.text());
  const auto entries = knob.entries();
  out["entries"] =
      (knob.store() == Enumeration_Store || knob.store() == Bitmask_Store) ? json(entries) : json(nullptr);
  out["flags"] = knob.flags();
  out["range"] =
      knob.has_range() ? json::array({number(knob.range_min()), number(knob.range_max())}) : json(nullptr);
  out["value"] = knob_value(knob);
  out["available"] = knob.available();
  return out;
}

}  // namespace

bool set_knob_json(Op& op, std::string_view name, const nlohmann::json& value, std::string& error) {
  Knob* knob = detail::find_settable_knob(op, name, error);
  if (!knob) return false;
  detail::PendingValue parsed;
  if (!parse_json(*knob, value, parsed, error)) return false;
  detail::write_value(parsed);
  op.knob_changed(knob);
  return true;
}

bool apply_settings_json(Op& op, const nlohmann::json& settings, std::string& error) {
  if (!settings.is_object()) {
    error =
        std::string("settings must be a JSON object of knob names and values, not ") + settings.type_name();
    return false;
  }
  // Every member is parsed before any is written, so a bad member leaves the whole node as it was.
  std::vector<detail::PendingValue> pending;
  for (const auto& [name, value] : settings.items()) {
    Knob* knob = detail::find_settable_knob(op, name, error);
    if (!knob) return false;
    detail::PendingValue parsed;
    if (!parse_json(*knob, value, parsed, error)) return false;
    pending.push_back(parsed);
  }
  for (const auto& parsed : pending) {
    detail::write_value(parsed);
    op.knob_changed(parsed.knob);
  }
  return true;
}

nlohmann::json describe_panel(Op& op) {
  json out;
  out["class"] = optional_string(op.class_name());
  const Op::Description* description = find_description(op.registration_handle());
  out["menu"] = optional_string(description ? description->menu() : nullptr);
  out["help"] = optional_string(op.help_text());
  json inputs = json::array();
  for (int i = 0; i < op.inputs(); ++i) inputs.push_back(optional_string(op.input_name(i)));
  out["inputs"] = inputs;
  json knobs = json::array();
  std::size_t index = 1;
  for (const Knob* k : op.knobs()) knobs.push_back(describe_knob(*k, index++));
  out["knobs"] = knobs;
  return out;
}

}  // namespace DD::Image
