/// \file light_options.cpp  A rig light's shadow and spot options, checked as the file gives them.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/rig.h>

#include <algorithm>
#include <cmath>

#include "text/strings.h"

namespace quorlen::hosting {
namespace {

constexpr std::array<std::string_view, 6> kShadowKeys = {"size",      "angle", "samples",
                                                         "thickness", "bias",  "maxDistance"};
constexpr std::array<std::string_view, 3> kSpotKeys = {"direction", "angle", "penumbra"};

template <class Keys>
void refuse_unknown(const nlohmann::json& object, const Keys& keys, std::string_view where) {
  for (const auto& [key, value] : object.items()) {
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) continue;
    const std::string near = text::closest_match(key, keys);
    throw usage_error(fmt::format("{}: unknown key \"{}\"{} (it takes {})", where, text::escape_controls(key),
                                  near.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", near),
                                  text::join(keys, ", ")));
  }
}

// A finite number from `low` (included when `closed`) up to `high` (included).
std::optional<double> number(const nlohmann::json& object, const char* key, std::string_view where,
                             double low, bool closed, double high, std::string_view range) {
  const auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  const double v = it->is_number() ? it->get<double>() : NAN;
  if (!std::isfinite(v) || v < low || (!closed && v == low) || v > high)
    throw usage_error(fmt::format("{}: \"{}\" is {}", where, key, range));
  return v;
}

}  // namespace

std::optional<ShadowOptions> parse_shadow(const nlohmann::json& value, std::string_view named) {
  const std::string where = fmt::format("{}: shadow", named);
  if (value.is_boolean())
    return value.get<bool>() ? std::optional<ShadowOptions>(ShadowOptions{}) : std::nullopt;
  if (!value.is_object())
    throw usage_error(
        fmt::format("{} is true, false or an object of {}", where, text::join(kShadowKeys, ", ")));
  refuse_unknown(value, kShadowKeys, where);
  constexpr double kAny = 1e30;
  ShadowOptions s;
  s.size = number(value, "size", where, 0, true, kAny, "a diameter in P's units, 0 or more").value_or(0);
  s.angle =
      number(value, "angle", where, 0, true, 90, "an angular diameter in degrees, from 0 to 90").value_or(0);
  if (const auto it = value.find("samples"); it != value.end()) {
    if (!it->is_number_integer() || it->get<long long>() < 1 || it->get<long long>() > 256)
      throw usage_error(fmt::format("{}: \"samples\" is a whole number from 1 to 256", where));
    s.samples = it->get<int>();
  }
  s.thickness = number(value, "thickness", where, 0, false, kAny, "a length in P's units, more than 0");
  s.bias = number(value, "bias", where, 0, true, kAny, "a length in P's units, 0 or more");
  s.max_distance = number(value, "maxDistance", where, 0, false, kAny, "a length in P's units, more than 0");
  return s;
}

SpotOptions parse_spot(const nlohmann::json& value, std::string_view named) {
  const std::string where = fmt::format("{}: spot", named);
  if (!value.is_object())
    throw usage_error(
        fmt::format("{} is an object: {{\"direction\": [x, y, z], \"angle\": A, \"penumbra\": B}}", where));
  refuse_unknown(value, kSpotKeys, where);
  SpotOptions s;
  const auto direction = value.find("direction");
  if (direction == value.end())
    throw usage_error(
        fmt::format("{}: \"direction\" is missing (from the light towards what it lights)", where));
  bool valid = direction->is_array() && direction->size() == 3;
  double length2 = 0;
  for (std::size_t k = 0; valid && k < 3; ++k) {
    valid = (*direction)[k].is_number() && std::isfinite((*direction)[k].get<double>());
    if (valid) s.direction[k] = (*direction)[k].get<double>();
    length2 += s.direction[k] * s.direction[k];
  }
  if (!valid || !(length2 > 0))
    throw usage_error(
        fmt::format("{}: \"direction\" is three numbers, not all 0, such as [0, -1, 0]", where));
  const auto angle =
      number(value, "angle", where, 0, false, 180, "the cone's half-angle in degrees, above 0 up to 180");
  if (!angle)
    throw usage_error(fmt::format("{}: \"angle\" is missing (the cone's half-angle in degrees)", where));
  s.angle = *angle;
  s.penumbra = number(value, "penumbra", where, 0, true, s.angle,
                      fmt::format("degrees from 0 up to the angle, {}", s.angle))
                   .value_or(0);
  return s;
}

}  // namespace quorlen::hosting
