/// \file light_sum.h  A rig's arithmetic, in 32-bit float as a compositor's merges compute it: a light's
/// layer is its output times its mask; the beauty is the layers added in their order.
#pragma once

#include <memory>
#include <vector>

#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

/// Multiplies red, green and blue of `out` by the mask's red channel (m, or 1 - m when `invert`), in place.
void apply_mask(const DD::Image::ImageBuffer& mask, bool invert, DD::Image::ImageBuffer& out);

/// Red, green, blue and alpha over `box`: the first layer's, then each further layer's red, green and blue
/// added in turn ((first + second) + third); black without any layer.
std::shared_ptr<DD::Image::ImageBuffer> beauty_of(
    const std::vector<std::shared_ptr<DD::Image::ImageBuffer>>& layers, const DD::Image::Box& box);

}  // namespace quorlen::hosting
