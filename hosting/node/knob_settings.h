/// \file knob_settings.h  Creating an operator node and setting its knobs from the command line.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::hosting {

/// One `--set NAME=VALUE`.
struct KnobSetting {
  std::string name;
  std::string value;
};

/// Splits "NAME=VALUE" at the first '='; throws a usage error when there is none or NAME is empty.
KnobSetting parse_knob_setting(std::string_view text);

/// Knob values in the order they are applied: the settings file first, then each --set.
struct NodeSettings {
  std::optional<std::string> settings_file;  ///< a JSON object of knob name to value
  std::vector<KnobSetting> sets;
  double frame = 0;  ///< where the file's animated values are evaluated (see animated_settings.h)
};

/// Reads a settings file; throws a usage error when it is missing or not a JSON object.
nlohmann::json read_settings_file(const std::string& path);

/// Applies the settings to the node's knobs (the file's, then each --set in order); throws a usage error
/// naming the offending knob or value.
void apply_settings(DD::Image::Op& op, const NodeSettings& settings);

}  // namespace quorlen::hosting
