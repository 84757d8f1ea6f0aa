/// \file layer_mapping.h  Choosing the operator's inputs from the layers of one multi-layer file.
#pragma once

#include <array>
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
  /// Why each input's layer was chosen, in input order (color, normal, P, noiseP); "" for none chosen.
  std::array<std::string, 4> reasons;
};

/// Last words of layers holding the surface colour without the rendered light, in order of preference.
/// Beyond the common names: base_color and DiffuseAlbedo (the other spellings of two of them), a denoiser's
/// albedo pass ("Denoising Albedo") and a diffuse filter pass, which renderers write as the unlit colour.
inline constexpr std::array<const char*, 10> kAlbedoNames = {
    "DiffCol",   "albedo",     "diffuse_albedo", "DiffuseColor",     "diffuse_color",
    "basecolor", "base_color", "DiffuseAlbedo",  "Denoising Albedo", "DiffuseFilter"};
/// Last words of beauty layers: the colour with the rendered light baked in.
inline constexpr std::array<const char*, 3> kBeautyNames = {"Combined", "beauty", "rgba"};

/// Maps layers to inputs by the last word of their names, ignoring case:
/// colour: a surface-colour layer (kAlbedoNames), else the plain R, G, B, else a beauty layer
/// (kBeautyNames); normal: N, Nn, Normal, Normals or Nworld; position: P, Position, Pworld or
/// worldPosition; noise position: Pref. Earlier names in each list win, then earlier layers in the file.
/// A layer with fewer than three channels is never chosen.
PassMapping map_passes(const std::vector<LayerInfo>& layers);

/// A channel of a file: the part (subimage) and the channel's index in it.
struct ChannelRef {
  int subimage = 0;
  int channel = 0;
};

/// The alpha that goes with the colour layer `colour` of `layers`: its own channel named A or alpha (case
/// ignored), else that of the plain layer or of a beauty layer (kBeautyNames) of the same file, the beauty
/// being what a compositor copies alpha from. nullopt when there is none.
std::optional<ChannelRef> colour_alpha(const std::vector<LayerInfo>& layers, const LayerInfo& colour);

}  // namespace quorlen::hosting
