/// \file knob_settings.h  Applying settings to an operator's knobs.
#pragma once

#include <quorlen/node.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::hosting {

/// Applies the settings to the node's knobs (the file's, then each --set in order); throws a usage error
/// naming the offending knob or value.
void apply_settings(DD::Image::Op& op, const NodeSettings& settings);

/// Applies a JSON object of knob values, keyframes evaluated at `frame`, all or nothing; a failure is a
/// usage error whose message starts with `where`.
void apply_values(DD::Image::Op& op, nlohmann::json values, double frame, const std::string& where);

}  // namespace quorlen::hosting
