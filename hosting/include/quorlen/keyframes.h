/// \file keyframes.h  Animated values in a settings file's form, `{"keys": {"1001": VALUE, ...}}`, as a
/// front end that edits them reads and writes their keys.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlen::hosting {

/// Whether a settings member is animated: an object holding "keys".
bool is_animated(const nlohmann::json& value);

/// The frame a key's text names ("1001", "12.5"); none for text that is not a finite number.
std::optional<double> key_frame(std::string_view text);

/// A frame as a key is written: whole frames without a point.
std::string key_text(double frame);

/// The frames of an animated value's keys, in order; keys that name no frame are left out.
std::vector<double> key_frames(const nlohmann::json& animated);

/// Sets the key at `frame` of an animated value, replacing a key written another way for the same frame
/// ("12" and "12.0").
void set_key(nlohmann::json& animated, double frame, const nlohmann::json& value);

}  // namespace quorlen::hosting
