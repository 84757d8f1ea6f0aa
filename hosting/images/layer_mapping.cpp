/// \file layer_mapping.cpp  Mapping a multi-layer file's layers to the operator's inputs.
#include "hosting/images/layer_mapping.h"

#include <algorithm>
#include <array>

#include "text/strings.h"

namespace quorlen::hosting {
namespace {

using text::last_word;

bool same_ignoring_case(std::string_view a, std::string_view b) { return text::equal_ignoring_case(a, b); }

bool has_rgb(const LayerInfo& layer) {
  int found = 0;
  for (const char* wanted : {"R", "G", "B"})
    found += std::any_of(layer.channel_names.begin(), layer.channel_names.end(),
                         [&](const std::string& c) { return same_ignoring_case(c, wanted); });
  return found == 3;
}

// The first layer (by name priority, then file order) whose last word is one of `names`.
template <std::size_t N>
std::optional<std::string> first_named(const std::vector<LayerInfo>& layers,
                                       const std::array<const char*, N>& names) {
  for (const char* name : names)
    for (const LayerInfo& layer : layers) {
      if (layer.channels.size() < 3) continue;
      const bool by_name = !layer.name.empty() && same_ignoring_case(last_word(layer.name), name);
      const bool by_part = !layer.part_name.empty() && same_ignoring_case(last_word(layer.part_name), name);
      if (by_name || by_part) return layer.name;
    }
  return std::nullopt;
}

}  // namespace

PassMapping map_passes(const std::vector<LayerInfo>& layers) {
  PassMapping m;
  for (const LayerInfo& layer : layers)
    if (layer.name.empty() && has_rgb(layer)) m.color = "";
  if (!m.color) m.color = first_named(layers, std::array{"Combined", "beauty", "rgba"});
  m.normal = first_named(layers, std::array{"N", "Nn", "Normal", "Normals", "Nworld"});
  m.position = first_named(layers, std::array{"P", "Position", "Pworld", "worldPosition"});
  m.noise_position = first_named(layers, std::array{"Pref"});
  return m;
}

}  // namespace quorlen::hosting
