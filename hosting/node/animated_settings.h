/// \file animated_settings.h  Knob values given as keyframes in a settings file, evaluated at a frame.
#pragma once

#include <quorlen/keyframes.h>

#include <nlohmann/json.hpp>

#include "DDImage/Op.h"

namespace quorlen::hosting {

/// `settings` (a settings object) with every animated member replaced by its value at `frame`, in the
/// form a plain member takes. An animated member is
/// `{"keys": {"1001": VALUE, "1100": VALUE, ...}, "interpolation": "linear" | "smooth"}` (linear when left
/// out); key frames may be fractional. Before the first key and after the last the value is held. Number
/// knobs (one or three components) are interpolated: "linear" along straight lines, "smooth" along a cubic
/// through the keys whose slopes keep every span within its two keys (so two equal keys hold their value
/// exactly in between); a key holds one number or, for three components, three (one number sets all
/// three). Choices, on/off and bit sets step: each key's value holds until the next key. Every key is
/// checked, whatever the frame, against the knob of `op`; throws a usage error naming the knob and the key.
nlohmann::json settings_at_frame(DD::Image::Op& op, nlohmann::json settings, double frame);

}  // namespace quorlen::hosting
