/// \file knob_settings.cpp  Creating a node and applying knob values from text and JSON.
#include "hosting/node/knob_settings.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

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

void apply_settings(DD::Image::Op& op, const NodeSettings& settings) {
  std::string error;
  if (settings.settings_file) {
    nlohmann::json values;
    try {
      values = settings_at_frame(op, read_settings_file(*settings.settings_file), settings.frame);
    } catch (const Error& e) {
      if (e.kind() != ErrorKind::usage || std::string_view(e.what()).starts_with("settings file")) throw;
      throw usage_error(fmt::format("settings file \"{}\": {}", *settings.settings_file, e.what()));
    }
    if (!DD::Image::apply_settings_json(op, values, error))
      throw usage_error(fmt::format("settings file \"{}\": {}", *settings.settings_file, error));
  }
  if (settings.values) {
    if (!settings.values->is_object()) throw usage_error("settings: not an object of knob names and values");
    nlohmann::json values;
    try {
      values = settings_at_frame(op, *settings.values, settings.frame);
    } catch (const Error& e) {
      if (e.kind() != ErrorKind::usage) throw;
      throw usage_error(fmt::format("settings: {}", e.what()));
    }
    if (!DD::Image::apply_settings_json(op, values, error))
      throw usage_error(fmt::format("settings: {}", error));
  }
  for (const KnobSetting& s : settings.sets)
    if (!DD::Image::set_knob(op, s.name, s.value, error))
      throw usage_error(fmt::format("--set {}={}: {}", s.name, s.value, error));
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
