/// \file knob_access.cpp  Knob values as text: reading, parsing, setting and opening the panel.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "DDImageHost/KnobAccess.h"
#include "knob_value.h"
#include "text/strings.h"

namespace DD::Image {
namespace {

using quorlen::text::equal_ignoring_case;
using quorlen::text::in_quotes;
using quorlen::text::lower;
using quorlen::text::trim;

// from_chars takes no '+'; a host user may well type one. "+-1" stays malformed.
std::string_view without_plus(std::string_view s) {
  if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
  return s;
}

bool parse_integer(std::string_view text, long long& out) {
  const std::string_view s = without_plus(trim(text));
  if (s.empty()) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

// Bits a bitmask's entries stand for: first entry bit 1; entries past the field's 31 value bits have none.
std::uint32_t bit_of_entry(std::size_t i) { return i < 31 ? (std::uint32_t{1} << i) : 0; }

std::uint32_t bitmask_bits(const Knob& knob) {
  std::uint32_t mask = 0;
  const std::size_t n = knob.entries().size();
  for (std::size_t i = 0; i < n; ++i) mask |= bit_of_entry(i);
  return mask;
}

bool is_settable(const Knob& knob) {
  if (!knob.name() || !knob.field()) return false;
  switch (knob.store()) {
    case Float_Store:
      return knob.components() > 0;
    case Enumeration_Store:
    case Bitmask_Store:
    case Bool_Store:
      return true;
    default:
      return false;
  }
}

std::string without_underscores(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != '_') out += lower(c);
  return out;
}

// The knob a mistyped name most likely meant: the same name but for case and the leading underscore of
// vector controls, or else the one nearest by at most two edits; null when none or a tie.
const char* name_hint(Op& op, std::string_view name) {
  const std::string plain = without_underscores(name);
  const char* best = nullptr;
  std::size_t best_distance = 3;
  bool tie = false;
  for (Knob* k : value_knobs(op)) {
    if (without_underscores(k->name()) == plain) return k->name();
    const std::size_t d = quorlen::text::edit_distance(name, k->name());
    if (d < best_distance) {
      best = k->name();
      best_distance = d;
      tie = false;
    } else if (d == best_distance) {
      tie = true;
    }
  }
  if (best && !tie) return best;
  // A name that is a word of one knob's name ("brightness" for "lightBrightness") is likely that knob.
  const std::string wanted = quorlen::text::lower(plain);
  if (wanted.size() < 3) return nullptr;
  const char* holder = nullptr;
  for (Knob* k : value_knobs(op))
    if (quorlen::text::lower(without_underscores(k->name())).find(wanted) != std::string::npos) {
      if (holder) return nullptr;
      holder = k->name();
    }
  return holder;
}

}  // namespace

namespace detail {

std::string float_text(float v) {
  // Shortest round-trip digits; positional within a readable span ("100000", not "1e+05").
  char buffer[64];
  const float magnitude = std::fabs(v);
  const bool positional = magnitude >= 1e-5f && magnitude < 1e16f;
  const auto result = positional ? std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed)
                                 : std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

FloatParse parse_float(std::string_view text, float& out) {
  const std::string_view s = without_plus(trim(text));
  if (s.empty()) return FloatParse::not_a_number;
  float v = 0.0f;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (end != s.data() + s.size() || (ec != std::errc() && ec != std::errc::result_out_of_range))
    return FloatParse::not_a_number;
  if (ec == std::errc::result_out_of_range) return FloatParse::out_of_range;
  out = v;
  return FloatParse::ok;
}

std::string accepted_forms(const Knob& knob) {
  switch (knob.store()) {
    case Float_Store:
      if (knob.components() == 3) return "one number or three separated by commas (such as 1 or 1,0.5,0.25)";
      return "a number (such as 0.5, -2, 1e3, inf or nan)";
    case Enumeration_Store: {
      const auto entries = knob.entries();
      if (entries.empty()) return "an entry (this knob has none)";
      return "one of " + quorlen::text::join(entries, ", ") + " (or an index 0-" +
             std::to_string(entries.size() - 1) + ")";
    }
    case Bitmask_Store: {
      const auto entries = knob.entries();
      std::vector<std::string> bits;
      for (std::size_t i = 0; i < entries.size(); ++i)
        if (bit_of_entry(i)) bits.push_back(std::to_string(bit_of_entry(i)));
      return "a combination of " + quorlen::text::join(entries, ", ") +
             " joined by | or + (or a number made of bits " +
             (bits.empty() ? std::string("none") : quorlen::text::join(bits, ", ")) + ", 0 for none)";
    }
    case Bool_Store:
      return "one of on, off, true, false, 1, 0";
    default:
      return "nothing (this knob holds no value)";
  }
}

std::string value_error(const Knob& knob, std::string_view shown, std::string_view problem) {
  std::string out = "knob ";
  out += in_quotes(knob.name() ? knob.name() : "");
  out += ": ";
  out += shown;
  out += ' ';
  out += problem;
  return out;
}

Knob* find_settable_knob(Op& op, std::string_view name, std::string& error) {
  // A name with an embedded NUL must not match the knob named by its prefix.
  if (name.find('\0') == std::string_view::npos) {
    const std::string key(name);
    Knob* k = op.knob(key.c_str());
    if (k && is_settable(*k)) return k;
  }
  error = "no knob named " + in_quotes(name);
  if (const char* hint = name_hint(op, name))
    error += std::string(" (did you mean ") + in_quotes(hint) + "?)";
  return nullptr;
}

bool parse_knob_text(Knob& knob, std::string_view text, PendingValue& value, std::string& error,
                     std::string_view shown) {
  PendingValue parsed;
  parsed.knob = &knob;
  const auto fail = [&](std::string_view problem) {
    error = value_error(knob, shown.empty() ? in_quotes(text) : std::string(shown), problem);
    return false;
  };
  const auto not_accepted = [&] { return fail("is not " + accepted_forms(knob)); };

  switch (knob.store()) {
    case Float_Store: {
      const int n = knob.components();
      std::vector<std::string_view> parts;
      std::string_view rest = text;
      for (std::size_t comma; (comma = rest.find(',')) != std::string_view::npos;) {
        parts.push_back(rest.substr(0, comma));
        rest.remove_prefix(comma + 1);
      }
      parts.push_back(rest);
      if (parts.size() != 1 && static_cast<int>(parts.size()) != n) return not_accepted();
      for (std::size_t i = 0; i < parts.size(); ++i) {
        const FloatParse r = parse_float(parts[i], parsed.floats[i]);
        if (r == FloatParse::out_of_range)
          return fail("is outside the range of a 32-bit float (expected " + accepted_forms(knob) + ")");
        if (r != FloatParse::ok) return not_accepted();
      }
      if (parts.size() == 1) std::fill(parsed.floats.begin(), parsed.floats.begin() + n, parsed.floats[0]);
      break;
    }
    case Enumeration_Store: {
      const auto entries = knob.entries();
      const std::string_view word = trim(text);
      const auto found = std::find(entries.begin(), entries.end(), word);
      long long index = 0;
      if (found != entries.end()) {
        index = found - entries.begin();
      } else if (!parse_integer(word, index) || index < 0 ||
                 index >= static_cast<long long>(entries.size())) {
        return not_accepted();
      }
      parsed.integer = static_cast<std::int32_t>(index);
      break;
    }
    case Bitmask_Store: {
      const auto entries = knob.entries();
      const std::uint32_t allowed = bitmask_bits(knob);
      long long number = 0;
      std::uint32_t bits = 0;
      if (parse_integer(text, number)) {
        if (number < 0 || number > std::numeric_limits<std::int32_t>::max() ||
            (static_cast<std::uint32_t>(number) & ~allowed) != 0)
          return not_accepted();
        bits = static_cast<std::uint32_t>(number);
      } else {
        std::string_view rest = text;
        while (true) {
          const std::size_t cut = rest.find_first_of("|+");
          const std::string_view word = trim(rest.substr(0, cut));
          const auto found = std::find(entries.begin(), entries.end(), word);
          if (found == entries.end() || !bit_of_entry(found - entries.begin())) return not_accepted();
          bits |= bit_of_entry(found - entries.begin());
          if (cut == std::string_view::npos) break;
          rest.remove_prefix(cut + 1);
        }
      }
      parsed.integer = static_cast<std::int32_t>(bits);
      break;
    }
    case Bool_Store: {
      const std::string_view word = trim(text);
      if (equal_ignoring_case(word, "on") || equal_ignoring_case(word, "true") || word == "1") {
        parsed.flag = true;
      } else if (equal_ignoring_case(word, "off") || equal_ignoring_case(word, "false") || word == "0") {
        parsed.flag = false;
      } else {
        return not_accepted();
      }
      break;
    }
    default:
      return not_accepted();
  }
  value = parsed;
  return true;
}

void write_value(const PendingValue& value) {
  Knob& knob = *value.knob;
  switch (knob.store()) {
    case Float_Store:
      std::copy_n(value.floats.begin(), knob.components(), static_cast<float*>(knob.field()));
      break;
    case Enumeration_Store:
    case Bitmask_Store:
      *static_cast<std::int32_t*>(knob.field()) = value.integer;
      break;
    case Bool_Store:
      *static_cast<bool*>(knob.field()) = value.flag;
      break;
    default:
      break;
  }
}

}  // namespace detail

std::string knob_value_text(const Knob& knob) {
  if (!knob.field()) return "";
  switch (knob.store()) {
    case Float_Store: {
      const auto* v = static_cast<const float*>(knob.field());
      std::string out;
      for (int i = 0; i < knob.components(); ++i) {
        if (i) out += ',';
        out += detail::float_text(v[i]);
      }
      return out;
    }
    case Enumeration_Store: {
      const std::int32_t index = *static_cast<const std::int32_t*>(knob.field());
      const auto entries = knob.entries();
      if (index >= 0 && static_cast<std::size_t>(index) < entries.size()) return entries[index];
      return std::to_string(index);
    }
    case Bitmask_Store: {
      const std::int32_t bits = *static_cast<const std::int32_t*>(knob.field());
      // Bits that no entry names cannot be spelled as labels; the number is the faithful form.
      if (bits <= 0 || (static_cast<std::uint32_t>(bits) & ~bitmask_bits(knob)) != 0)
        return std::to_string(bits);
      std::vector<std::string> names;
      const auto entries = knob.entries();
      for (std::size_t i = 0; i < entries.size(); ++i)
        if (static_cast<std::uint32_t>(bits) & bit_of_entry(i)) names.push_back(entries[i]);
      return quorlen::text::join(names, "|");
    }
    case Bool_Store:
      return *static_cast<const bool*>(knob.field()) ? "on" : "off";
    default:
      return "";
  }
}

bool set_knob(Op& op, std::string_view name, std::string_view text, std::string& error) {
  Knob* knob = detail::find_settable_knob(op, name, error);
  if (!knob) return false;
  detail::PendingValue value;
  if (!detail::parse_knob_text(*knob, text, value, error)) return false;
  detail::write_value(value);
  op.knob_changed(knob);
  return true;
}

Knob* find_knob(Op& op, std::string_view name, std::string& error) {
  return detail::find_settable_knob(op, name, error);
}

void open_panel(Op& op) { op.knob_changed(Knob::showPanel); }

std::vector<Knob*> value_knobs(Op& op) {
  std::vector<Knob*> out;
  for (Knob* k : op.knobs())
    if (k->name() && k->store() != No_Store) out.push_back(k);
  return out;
}

}  // namespace DD::Image
