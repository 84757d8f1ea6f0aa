/// \file rig_file.cpp  Reading a settings file as a rig: the shared knob values, the lights, the host
/// options.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/rig.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "text/strings.h"

namespace quorlen::hosting {
namespace {

constexpr std::array<std::string_view, 7> kLightKeys = {"name",       "knobs",  "mute", "mask",
                                                        "maskInvert", "shadow", "spot"};

std::string shown(std::string_view s) { return text::escape_controls(s); }

bool is_key(std::string_view key, const auto& keys) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

RigLight parse_light(const nlohmann::json& entry, std::size_t index, std::string_view source) {
  const std::string where = fmt::format("{}: lights[{}]", source, index);
  if (!entry.is_object()) throw usage_error(fmt::format("{}: a light is an object with a \"name\"", where));
  const auto name = entry.find("name");
  if (name == entry.end() || !name->is_string())
    throw usage_error(fmt::format("{}: a light needs a \"name\" (a string)", where));
  RigLight light;
  light.name = name->get<std::string>();
  if (!valid_light_name(light.name))
    throw usage_error(fmt::format(
        "{}: light name \"{}\" must start with a letter and hold only letters, digits and _, and not be R, "
        "G, B or A",
        where, shown(light.name)));
  const std::string named = fmt::format("{}: light \"{}\"", source, light.name);
  for (const auto& [key, value] : entry.items()) {
    if (is_key(key, kLightKeys)) continue;
    const std::string near = text::closest_match(key, kLightKeys);
    throw usage_error(fmt::format("{}: unknown key \"{}\"{} (a light takes {})", named, shown(key),
                                  near.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", near),
                                  text::join(kLightKeys, ", ")));
  }
  if (const auto knobs = entry.find("knobs"); knobs != entry.end()) {
    if (!knobs->is_object())
      throw usage_error(fmt::format("{}: \"knobs\" is an object of knob names and values", named));
    for (const auto& [key, value] : knobs->items())
      if (key == "lights" || is_key(key, kRigFileKeys))
        throw usage_error(
            fmt::format("{}: \"{}\" belongs at the top of the file, not in a light's knobs", named, key));
    light.knobs = *knobs;
  }
  const auto flag = [&](const char* key, bool& out) {
    const auto it = entry.find(key);
    if (it == entry.end()) return;
    if (!it->is_boolean()) throw usage_error(fmt::format("{}: \"{}\" is true or false", named, key));
    out = it->get<bool>();
  };
  flag("mute", light.mute);
  flag("maskInvert", light.mask_invert);
  if (const auto mask = entry.find("mask"); mask != entry.end()) {
    if (!mask->is_string() || mask->get_ref<const std::string&>().find(':') == std::string::npos)
      throw usage_error(fmt::format("{}: \"mask\" is \"FILE:CHANNEL\", such as \"matte.exr:hero.R\"", named));
    light.mask = mask->get<std::string>();
  }
  if (light.mask_invert && !light.mask)
    throw usage_error(fmt::format("{}: \"maskInvert\" without a \"mask\"", named));
  if (const auto shadow = entry.find("shadow"); shadow != entry.end())
    light.shadow = parse_shadow(*shadow, named);
  if (const auto spot = entry.find("spot"); spot != entry.end()) light.spot = parse_spot(*spot, named);
  return light;
}

// How deep `value` nests, counted without recursion and up to `limit` + 1.
std::size_t depth_of(const nlohmann::json& value, std::size_t limit) {
  std::vector<std::pair<const nlohmann::json*, std::size_t>> stack{{&value, 1}};
  std::size_t most = 0;
  while (!stack.empty() && most <= limit) {
    const auto [v, depth] = stack.back();
    stack.pop_back();
    most = std::max(most, depth);
    if (v->is_structured())
      for (const auto& child : *v) stack.emplace_back(&child, depth + 1);
  }
  return most;
}

}  // namespace

bool valid_light_name(std::string_view name) {
  if (name.empty() || !((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  // A layer named after a channel would read as that channel in a compositor.
  return name != "R" && name != "G" && name != "B" && name != "A";
}

RigFile parse_rig(nlohmann::json file, std::string_view source) {
  if (!file.is_object())
    throw usage_error(fmt::format("{}: not a JSON object of knob names and values", source));
  RigFile rig;
  rig.source = std::string(source);
  // Values are moved, not copied: copying a value nested thousands deep would recurse as deep.
  for (auto& [key, value] : file.items())
    if (!is_key(key, kRigFileKeys)) rig.shared[key] = std::move(value);
  if (const auto space = file.find("lightSpace"); space != file.end()) {
    if (!space->is_string()) throw usage_error(fmt::format("{}: \"lightSpace\" is node or world", source));
    rig.light_space = light_space_named(space->get<std::string>(), fmt::format("{}: lightSpace", source));
  }
  if (const auto encoding = file.find("normalEncoding"); encoding != file.end()) {
    if (!encoding->is_string())
      throw usage_error(fmt::format("{}: \"normalEncoding\" is signed or unsigned", source));
    rig.normal_encoding =
        normal_encoding_named(encoding->get<std::string>(), fmt::format("{}: normalEncoding", source));
  }
  if (const auto space = file.find("normalSpace"); space != file.end()) {
    if (!space->is_string()) throw usage_error(fmt::format("{}: \"normalSpace\" is world or camera", source));
    rig.normal_space = normal_space_named(space->get<std::string>(), fmt::format("{}: normalSpace", source));
  }
  if (const auto flip = file.find("normalFlip"); flip != file.end()) {
    if (!flip->is_string())
      throw usage_error(
          fmt::format("{}: \"normalFlip\" is the axes to negate, such as \"y\" or \"x,z\"", source));
    rig.normal_flip = normal_flip_named(flip->get<std::string>(), fmt::format("{}: normalFlip", source));
  }
  if (const auto lights = file.find("lights"); lights != file.end()) {
    if (!lights->is_array()) throw usage_error(fmt::format("{}: \"lights\" is an array of lights", source));
    // Each light copies the values it is given; a hostile nesting would make every copy recurse that deep.
    constexpr std::size_t kDeepest = 64;
    if (depth_of(file, kDeepest) > kDeepest || depth_of(rig.shared, kDeepest) > kDeepest)
      throw usage_error(
          fmt::format("{}: values nest deeper than {} levels, which no knob takes", source, kDeepest));
    if (lights->empty())
      throw usage_error(fmt::format("{}: \"lights\" is empty; leave it out for one light", source));
    for (std::size_t i = 0; i < lights->size(); ++i) {
      RigLight light = parse_light((*lights)[i], i, source);
      for (const auto& earlier : rig.lights)
        if (earlier.name == light.name)
          throw usage_error(fmt::format("{}: two lights are named \"{}\"", source, light.name));
      rig.lights.push_back(std::move(light));
    }
  }
  return rig;
}

RigFile read_rig_file(const std::string& path) {
  return parse_rig(read_settings_file(path), fmt::format("settings file \"{}\"", path));
}

RigFile rig_of(const NodeSettings& settings) {
  RigFile rig;
  if (settings.settings_file) rig = read_rig_file(*settings.settings_file);
  if (settings.values) {
    RigFile given = parse_rig(*settings.values, "settings");
    if (!settings.settings_file) return given;
    if (given.is_rig()) throw usage_error("settings: lights given both in a file and in memory");
    rig.shared.update(given.shared);
    if (given.light_space) rig.light_space = given.light_space;
    if (given.normal_encoding) rig.normal_encoding = given.normal_encoding;
    if (given.normal_space) rig.normal_space = given.normal_space;
    if (given.normal_flip) rig.normal_flip = given.normal_flip;
  }
  return rig;
}

std::vector<bool> lights_kept(const RigFile& rig, const std::vector<std::string>& solo,
                              const std::vector<std::string>& mute) {
  std::vector<std::string> names;
  for (const auto& light : rig.lights) names.push_back(light.name);
  for (const auto* list : {&solo, &mute})
    for (const auto& name : *list)
      if (std::find(names.begin(), names.end(), name) == names.end()) {
        if (names.empty())
          throw usage_error(fmt::format("--{} {}: the settings hold no lights",
                                        list == &solo ? "solo" : "mute", shown(name)));
        const std::string near = text::closest_match(name, names);
        throw usage_error(fmt::format("--{} {}: no light of that name (lights: {}){}",
                                      list == &solo ? "solo" : "mute", shown(name), text::join(names),
                                      near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
      }
  std::vector<bool> kept;
  for (const auto& light : rig.lights) {
    const bool soloed = std::find(solo.begin(), solo.end(), light.name) != solo.end();
    const bool muted = std::find(mute.begin(), mute.end(), light.name) != mute.end();
    kept.push_back(!light.mute && !muted && (solo.empty() || soloed));
  }
  return kept;
}

LightSetting light_setting(const RigFile& rig, const KnobSetting& set) {
  const auto dot = set.name.find('.');
  if (dot == std::string::npos) return {std::nullopt, set};
  const std::string light = set.name.substr(0, dot);
  for (const auto& l : rig.lights)
    if (l.name == light) return {light, KnobSetting{set.name.substr(dot + 1), set.value}};
  std::vector<std::string> names;
  for (const auto& l : rig.lights) names.push_back(l.name);
  if (names.empty())
    throw usage_error(fmt::format("--set {}={}: \"{}\" names a light, and the settings hold none",
                                  shown(set.name), shown(set.value), shown(light)));
  const std::string near = text::closest_match(light, names);
  throw usage_error(fmt::format("--set {}={}: no light named \"{}\" (lights: {}){}", shown(set.name),
                                shown(set.value), shown(light), text::join(names),
                                near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
}

PassReading pass_reading(const RigFile& rig, const PassChoices& given) {
  PassReading reading;
  reading.light_space = given.light_space.value_or(rig.light_space.value_or(LightSpace::node));
  reading.normal_encoding =
      given.normal_encoding.value_or(rig.normal_encoding.value_or(NormalEncoding::signed_values));
  reading.normal_space = given.normal_space.value_or(rig.normal_space.value_or(NormalSpace::world));
  reading.normal_flip = given.normal_flip.value_or(rig.normal_flip.value_or(NormalFlip{}));
  return reading;
}

}  // namespace quorlen::hosting
