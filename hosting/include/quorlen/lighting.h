/// \file lighting.h  What the operator's light conventions mean for a host: placing the light from a surface
/// the user picked, and the settings that cannot do what they seem to.
#pragma once

#include <quorlen/inputs.h>
#include <quorlen/node.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace quorlen::hosting {

class Session;

/// A pixel's position and normal as the passes hold them (the normal in the passes' own convention, whatever
/// the light space).
struct Surface {
  std::array<float, 3> position{0, 0, 0};
  std::array<float, 3> normal{0, 0, 0};
  /// No surface: P and N both zero, as renderers leave the background.
  bool empty() const;
};

/// The surface at pixel (x, y) of the session's inputs, counted from the data window's first line and
/// column. Throws a usage error outside it.
Surface surface_at(const Session& session, int x, int y, LightSpace space);

/// The knob values that light `surface` for the node's current light type: the point light `distance`
/// along the normal, the parallel light shining straight at it. Throws a usage error for a pixel without a
/// surface or a usable normal (`where` names it in the message), or a distance that is not finite.
nlohmann::json light_facing(Node& node, const Surface& surface, LightSpace space, double distance,
                            std::string_view where = "the pixel");

/// Warnings about settings that cannot do what they seem to: knobs changed but unavailable, a point light
/// without positions, texture output without colour. `connected` says which inputs are connected.
std::vector<std::string> settings_warnings(Node& node, const std::array<bool, kInputCount>& connected);

}  // namespace quorlen::hosting
