/// \file normal_frame.h  How the normal input is read: decoded, its axes flipped, turned from camera space
/// into P's, then put in the light space. The read stage and the sessions share it.
#pragma once

#include <quorlen/inputs.h>

#include <array>
#include <optional>

#include "DDImage/Box.h"
#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

struct FrameCamera;

/// The camera's right, up and view axes in P's space, which camera-space normals are turned with.
using NormalAxes = std::array<std::array<double, 3>, 3>;

/// Reads the normals in `box` of `image` (red, green, blue) in place: `encoding` decoded, the axes of
/// `flip` negated, turned with `axes` when given, then `space` applied.
void read_normals(DD::Image::ImageBuffer& image, const DD::Image::Box& box, LightSpace space,
                  NormalEncoding encoding, const NormalFlip& flip, const std::optional<NormalAxes>& axes);

/// The axes normals in `normal_space` are turned with: none for world space, else `camera`'s. Throws the
/// command's input error when no camera fits P (or a usage error when there is no camera at all).
std::optional<NormalAxes> normal_axes(NormalSpace normal_space, const FrameCamera* camera);

}  // namespace quorlen::hosting
