/// \file layer_mapping.h  Choosing the operator's inputs from the layers of one multi-layer file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosting/images/image_file.h"

namespace quorlen::hosting {

/// The layer chosen for each input; nullopt leaves that input to the explicit options (or unconnected).
/// An empty string is the plain channels.
struct PassMapping {
  std::optional<std::string> color;
  std::optional<std::string> normal;
  std::optional<std::string> position;
  std::optional<std::string> noise_position;
};

/// Maps layers to inputs by the last word of their names, ignoring case:
/// colour: the plain R, G, B, else Combined, beauty or rgba; normal: N, Nn, Normal, Normals or Nworld;
/// position: P, Position, Pworld or worldPosition; noise position: Pref. Earlier names in each list win,
/// then earlier layers in the file. A layer with fewer than three channels is never chosen.
PassMapping map_passes(const std::vector<LayerInfo>& layers);

}  // namespace quorlen::hosting
