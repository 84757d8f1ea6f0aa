/// \file knob_settings.cpp  Creating a node and applying knob values from text and JSON.
#include "hosting/node/knob_settings.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/rig.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/PanelJson.h"
#include "hosting/node/animated_settings.h"
#include "hosting/system/atomic_file.h"

namespace quorlen::hosting {

KnobSetting parse_knob_setting(std::string_view text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0)
    throw usage_error(fmt::format("--set \"{}\" is not NAME=VALUE (such as lightType=point)", text));
  return KnobSetting{std::string(text.substr(0, eq)), std::string(text.substr(eq + 1))};
}

nlohmann::json read_settings_file(const std::string& path) {
  std::error_code ec;
  // A directory opens as a stream that reads nothing, which the parser would call an early end of input.
  if (std::filesystem::is_directory(path, ec))
    throw usage_error(fmt::format("settings file \"{}\" is a directory, not a JSON file", path));
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw usage_error(fmt::format("cannot read settings file \"{}\": no such file or not readable", path));
  std::ostringstream text;
  text << in.rdbuf();
  nlohmann::json settings;
  try {
    settings = nlohmann::json::parse(text.str());
  } catch (const nlohmann::json::exception& e) {
    // Not only syntax errors: a number too large for a double is reported as out of range.
    // The library's message starts with its own tag in brackets; the rest says where and what.
    std::string what = e.what();
    if (const std::size_t tag_end = what.find("] "); what.starts_with("[") && tag_end != std::string::npos)
      what.erase(0, tag_end + 2);
    throw usage_error(fmt::format("settings file \"{}\" is not valid JSON: {}", path, what));
  }
  if (!settings.is_object())
    throw usage_error(
        fmt::format("settings file \"{}\" must hold a JSON object of knob names and values, not {}", path,
                    settings.type_name()));
  return settings;
}

void apply_values(DD::Image::Op& op, nlohmann::json values, double frame, const std::string& where) {
  if (values.empty()) return;
  nlohmann::json now;
  try {
    now = settings_at_frame(op, std::move(values), frame);
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::usage) throw;
    throw usage_error(fmt::format("{}: {}", where, e.what()));
  }
  std::string error;
  if (!DD::Image::apply_settings_json(op, now, error)) throw usage_error(fmt::format("{}: {}", where, error));
}

void apply_settings(DD::Image::Op& op, const NodeSettings& settings) {
  RigFile rig = rig_of(settings);
  if (rig.is_rig())
    throw usage_error(
        fmt::format("{} holds a rig of {} lights, and this takes the settings of one node; "
                    "'quorlen render' renders the rig",
                    rig.source, rig.lights.size()));
  apply_values(op, std::move(rig.shared), settings.frame, rig.source);
  std::string error;
  for (const KnobSetting& s : settings.sets) {
    light_setting(rig, s);  // a light's name before a dot is refused here: there are none
    if (!DD::Image::set_knob(op, s.name, s.value, error))
      throw usage_error(fmt::format("--set {}={}: {}", s.name, s.value, error));
  }
}

void write_settings_file(const std::string& path, const nlohmann::json& settings) {
  AtomicFile file(path);
  std::ofstream out(file.temp_path(), std::ios::binary);
  out << settings.dump(2) << '\n';
  out.close();
  if (!out) throw output_error(fmt::format("cannot write \"{}\"", path));
  file.commit();
}

}  // namespace quorlen::hosting
