/// \file PanelJson.h  Knob settings and panel descriptions as JSON, for host programs.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "DDImage/Op.h"

namespace DD::Image {

/// Sets knob `name` from a JSON value (number, bool, string in set_knob's forms, or an array of three
/// numbers). Same failure rules as set_knob.
bool set_knob_json(Op& op, std::string_view name, const nlohmann::json& value, std::string& error);

/// Applies every member of a JSON object (knob name to value) in order; stops at the first failure.
bool apply_settings_json(Op& op, const nlohmann::json& settings, std::string& error);

/// The panel of `op` as JSON: class name, menu, help text, input labels and every declaration in order.
nlohmann::json describe_panel(Op& op);

}  // namespace DD::Image
