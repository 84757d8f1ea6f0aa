/// \file animated_settings.cpp  Keyframes: parsing, checking and evaluating them.
#include "hosting/node/animated_settings.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/keyframes.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/PanelJson.h"

namespace quorlen::hosting {
namespace {

struct Key {
  double frame;
  std::string text;  // as written, for messages
  nlohmann::json value;
  std::vector<double> numbers;  // number knobs: one per component
};

// The components of a number knob's key value, or an empty vector when it is not numbers.
std::vector<double> numbers_of(const nlohmann::json& value, int components) {
  if (value.is_number())
    return std::vector<double>(static_cast<std::size_t>(components), value.get<double>());
  if (!value.is_array() || static_cast<int>(value.size()) != components) return {};
  std::vector<double> out;
  for (const auto& v : value) {
    if (!v.is_number()) return {};
    out.push_back(v.get<double>());
  }
  return out;
}

// Slopes for a cubic through the keys that stays monotone on every span (after Fritsch and Butland): a
// key between a rise and a fall, or next to a flat span, gets slope 0; the ends get slope 0 as well.
std::vector<double> monotone_slopes(const std::vector<double>& x, const std::vector<double>& y) {
  const std::size_t n = x.size();
  std::vector<double> m(n, 0.0);
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double h0 = x[i] - x[i - 1], h1 = x[i + 1] - x[i];
    const double d0 = (y[i] - y[i - 1]) / h0, d1 = (y[i + 1] - y[i]) / h1;
    if (d0 * d1 <= 0 || !std::isfinite(d0) || !std::isfinite(d1)) continue;
    m[i] = 3 * (h0 + h1) / ((2 * h1 + h0) / d0 + (h1 + 2 * h0) / d1);
  }
  return m;
}

double interpolate(const std::vector<Key>& keys, std::size_t c, std::size_t i, double frame, bool smooth) {
  const double x0 = keys[i].frame, x1 = keys[i + 1].frame;
  const double y0 = keys[i].numbers[c], y1 = keys[i + 1].numbers[c];
  const double h = x1 - x0;
  const double t = (frame - x0) / h;
  if (!smooth) return y0 + (y1 - y0) * t;
  std::vector<double> x, y;
  for (const Key& k : keys) {
    x.push_back(k.frame);
    y.push_back(k.numbers[c]);
  }
  const std::vector<double> m = monotone_slopes(x, y);
  // Written from y0 so that a flat span (y1 == y0, both slopes 0) gives y0 exactly.
  const double t2 = t * t, t3 = t2 * t;
  return y0 + (y1 - y0) * (3 * t2 - 2 * t3) + h * m[i] * (t3 - 2 * t2 + t) + h * m[i + 1] * (t3 - t2);
}

nlohmann::json value_at(DD::Image::Op& op, const std::string& name, const nlohmann::json& animated,
                        double frame) {
  const auto bad = [&](const std::string& why) {
    return usage_error(fmt::format("knob \"{}\": {}", name, why));
  };
  std::string error;
  DD::Image::Knob* knob = DD::Image::find_knob(op, name, error);
  if (!knob) throw usage_error(error);

  bool smooth = false;
  for (const auto& [member, value] : animated.items()) {
    if (member == "keys") continue;
    if (member != "interpolation")
      throw bad(fmt::format(
          "\"{}\" is not a member of animated values (they are \"keys\" and \"interpolation\")", member));
    if (value == "smooth")
      smooth = true;
    else if (value != "linear")
      throw bad(fmt::format("interpolation {} is not \"linear\" or \"smooth\"", value.dump()));
  }
  const nlohmann::json& key_object = animated.at("keys");
  if (!key_object.is_object() || key_object.empty())
    throw bad("\"keys\" must be an object of frame numbers and values, such as {\"1001\": 0, \"1100\": 1}");

  const bool numeric = knob->store() == DD::Image::Float_Store;
  const int components = std::max(1, knob->components());
  std::vector<Key> keys;
  for (const auto& [text, value] : key_object.items()) {
    const auto f = key_frame(text);
    if (!f) throw bad(fmt::format("key \"{}\" is not a frame number", text));
    Key key{*f, text, value, {}};
    if (numeric) {
      key.numbers = numbers_of(value, components);
      if (key.numbers.empty())
        throw bad(fmt::format(
            "key \"{}\": {} is not {}", text, value.dump(),
            components == 1 ? "a number" : fmt::format("a number or an array of {} numbers", components)));
    } else {
      // Stepped values are checked by setting them; the value in force is set again after all keys.
      const std::string before = DD::Image::knob_value_text(*knob);
      if (!DD::Image::set_knob_json(op, name, value, error))
        throw usage_error(fmt::format("{} (key \"{}\")", error, text));
      DD::Image::set_knob(op, name, before, error);
    }
    keys.push_back(std::move(key));
  }
  std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.frame < b.frame; });
  for (std::size_t i = 1; i < keys.size(); ++i)
    if (keys[i].frame == keys[i - 1].frame)
      throw bad(fmt::format("keys \"{}\" and \"{}\" are the same frame", keys[i - 1].text, keys[i].text));

  // The span holding the frame: the last key at or before it; before the first key, the first holds.
  const auto after =
      std::upper_bound(keys.begin(), keys.end(), frame, [](double f, const Key& k) { return f < k.frame; });
  const std::size_t i = after == keys.begin() ? 0 : static_cast<std::size_t>(after - keys.begin()) - 1;
  if (!numeric) return keys[i].value;
  std::vector<double> value = keys[i].numbers;
  // At a key, before the first and after the last, the key's own numbers, so keys are met exactly.
  if (after != keys.begin() && i + 1 < keys.size() && keys[i].frame != frame)
    for (std::size_t c = 0; c < value.size(); ++c) value[c] = interpolate(keys, c, i, frame, smooth);
  return components == 1 ? nlohmann::json(value[0]) : nlohmann::json(value);
}

}  // namespace

nlohmann::json settings_at_frame(DD::Image::Op& op, nlohmann::json settings, double frame) {
  // Changed in place: a copy of a file's values recurses as deep as they nest, which a hostile file can
  // make deep enough to overflow the stack.
  for (auto& [name, value] : settings.items())
    if (is_animated(value)) value = value_at(op, name, value, frame);
  return settings;
}

}  // namespace quorlen::hosting
