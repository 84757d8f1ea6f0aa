/// \file command.cpp  The program-wide options and the settings options the commands share.
#include "cli/command.h"

#include <fmt/format.h>
#include <quorlen/module.h>

#include "cli/verbose.h"
#include "text/strings.h"

namespace quorlen::cli {

void Program::warn(const std::string& message) const {
  if (quiet) return;
  fmt::print(stderr, "quorlen: warning: {}\n", text::escape_controls(text::one_line(message)));
}

const DD::Image::Op::Description& Program::load() const {
  std::string module;
  const auto& description = hosting::load_operator(plugin_path, &module);
  if (verbose) report_modules(module, stderr);
  return description;
}

void SettingsOptions::add_to(CLI::App& app) {
  app.add_option(
         "--set", sets,
         "Set a knob, e.g. lightType=point, _pointLightPos=0,1.5,6, stripesNoiseDir=x|z, surfaceNoise=on; "
         "repeatable, applied in order after --settings")
      ->type_name("NAME=VALUE");
  app.add_option("--settings", file,
                 "JSON object of knob names and values (numbers, booleans, labels, "
                 "arrays of three numbers, or keyframes {\"keys\": {FRAME: VALUE, ...}})")
      ->type_name("FILE.json");
}

hosting::NodeSettings SettingsOptions::settings() const {
  hosting::NodeSettings settings;
  settings.settings_file = file;
  for (const auto& s : sets) settings.sets.push_back(hosting::parse_knob_setting(s));
  return settings;
}

}  // namespace quorlen::cli
