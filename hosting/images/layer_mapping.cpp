/// \file layer_mapping.cpp  Mapping a multi-layer file's layers to the operator's inputs.
#include "hosting/images/layer_mapping.h"

#include <fmt/format.h>

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

struct Found {
  std::string layer;
  std::string word;  // the name of the list it matched
};

// The first layer (by name priority, then file order) whose last word is one of `names`.
template <std::size_t N>
std::optional<Found> first_named(const std::vector<LayerInfo>& layers,
                                 const std::array<const char*, N>& names) {
  for (const char* name : names)
    for (const LayerInfo& layer : layers) {
      if (layer.channels.size() < 3) continue;
      const bool by_name = !layer.name.empty() && same_ignoring_case(last_word(layer.name), name);
      const bool by_part = !layer.part_name.empty() && same_ignoring_case(last_word(layer.part_name), name);
      if (by_name || by_part) return Found{layer.name, name};
    }
  return std::nullopt;
}

template <std::size_t N>
void map_by_name(const std::vector<LayerInfo>& layers, const std::array<const char*, N>& names,
                 std::optional<std::string>& layer, std::string& reason) {
  if (const auto found = first_named(layers, names)) {
    layer = found->layer;
    reason = fmt::format("its last word is {}", found->word);
  }
}

}  // namespace

PassMapping map_passes(const std::vector<LayerInfo>& layers) {
  PassMapping m;
  // The beauty holds the rendered light (shadows, highlights), which a relight would keep; a layer of the
  // surface colour alone is what the node expects.
  if (const auto albedo = first_named(layers, kAlbedoNames)) {
    m.color = albedo->layer;
    m.reasons[0] = fmt::format(
        "its last word is {}: the surface colour without the rendered light, preferred to the plain R, G, B "
        "and the beauty",
        albedo->word);
  } else if (std::any_of(layers.begin(), layers.end(),
                         [](const LayerInfo& l) { return l.name.empty() && has_rgb(l); })) {
    m.color = "";
    m.reasons[0] = "the plain R, G, B; no surface-colour layer (such as DiffCol or albedo) was found";
  } else if (const auto beauty = first_named(layers, kBeautyNames)) {
    m.color = beauty->layer;
    m.reasons[0] = fmt::format(
        "its last word is {}: a beauty, whose rendered light stays in the result; no surface-colour layer "
        "(such as DiffCol or albedo) was found",
        beauty->word);
  }
  map_by_name(layers, std::array{"N", "Nn", "Normal", "Normals", "Nworld"}, m.normal, m.reasons[1]);
  map_by_name(layers, std::array{"P", "Position", "Pworld", "worldPosition"}, m.position, m.reasons[2]);
  map_by_name(layers, std::array{"Pref"}, m.noise_position, m.reasons[3]);
  return m;
}

std::optional<ChannelRef> colour_alpha(const std::vector<LayerInfo>& layers, const LayerInfo& colour) {
  const auto alpha_of = [](const LayerInfo& layer) -> std::optional<ChannelRef> {
    for (std::size_t c = 0; c < layer.channel_names.size(); ++c) {
      const std::string_view word = last_word(layer.channel_names[c]);
      if (same_ignoring_case(word, "A") || same_ignoring_case(word, "alpha"))
        return ChannelRef{layer.subimage, layer.channels[c]};
    }
    return std::nullopt;
  };
  if (auto own = alpha_of(colour)) return own;
  for (const LayerInfo& layer : layers)
    if (layer.name.empty())
      if (auto plain = alpha_of(layer)) return plain;
  for (const char* name : kBeautyNames)
    for (const LayerInfo& layer : layers) {
      const bool by_name = !layer.name.empty() && same_ignoring_case(last_word(layer.name), name);
      const bool by_part = !layer.part_name.empty() && same_ignoring_case(last_word(layer.part_name), name);
      if (by_name || by_part)
        if (auto beauty = alpha_of(layer)) return beauty;
    }
  return std::nullopt;
}

}  // namespace quorlen::hosting
