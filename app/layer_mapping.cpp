/// \file layer_mapping.cpp  Mapping a multi-layer file's layers to the operator's inputs.
#include "app/layer_mapping.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quorlen::app {
namespace {

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool has_rgb(const LayerInfo& layer) {
  int found = 0;
  for (const char* wanted : {"R", "G", "B"})
    found += std::any_of(layer.channel_names.begin(), layer.channel_names.end(),
                         [&](const std::string& c) { return same_ignoring_case(c, wanted); });
  return found == 3;
}

// The first layer (by name priority, then file order) whose last word is one of `names`.
template <std::size_t N>
std::optional<std::string> first_named(const std::vector<LayerInfo>& layers, const std::array<const char*, N>& names) {
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

std::string_view last_word(std::string_view layer) {
  const std::size_t dot = layer.rfind('.');
  return dot == std::string_view::npos ? layer : layer.substr(dot + 1);
}

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

}  // namespace quorlen::app
