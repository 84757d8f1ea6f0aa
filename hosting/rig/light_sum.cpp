/// \file light_sum.cpp  Layers and the beauty: each light times its mask, the layers added in order.
#include "hosting/rig/light_sum.h"

namespace quorlen::hosting {

using DD::Image::Box;
using DD::Image::ImageBuffer;

// The node's output times its mask, in place: m, or 1 - m when inverted, both in float.
void apply_mask(const ImageBuffer& mask, bool invert, ImageBuffer& out) {
  const int m = mask.channel_index(DD::Image::Chan_Red);
  const int rgb[3] = {out.channel_index(DD::Image::Chan_Red), out.channel_index(DD::Image::Chan_Green),
                      out.channel_index(DD::Image::Chan_Blue)};
  const Box& box = out.box();
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x) {
      const float v = mask.at(x, y, m);
      const float factor = invert ? 1.0f - v : v;
      for (int c : rgb) out.at(x, y, c) = out.at(x, y, c) * factor;
    }
}

// The layers added in their order, each sum rounded to float as a compositor's plus would round it.
std::shared_ptr<ImageBuffer> beauty_of(const std::vector<std::shared_ptr<ImageBuffer>>& layers,
                                       const Box& box) {
  auto beauty = std::make_shared<ImageBuffer>(
      box, std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue,
                                           DD::Image::Chan_Alpha});
  if (layers.empty()) return beauty;
  const ImageBuffer& first = *layers.front();
  const int order[4] = {first.channel_index(DD::Image::Chan_Red), first.channel_index(DD::Image::Chan_Green),
                        first.channel_index(DD::Image::Chan_Blue),
                        first.channel_index(DD::Image::Chan_Alpha)};
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x)
      for (int c = 0; c < 4; ++c) beauty->at(x, y, c) = first.at(x, y, order[c]);
  const int rgb[3] = {0, 1, 2};
  for (std::size_t i = 1; i < layers.size(); ++i) {
    const ImageBuffer& layer = *layers[i];
    const int from[3] = {layer.channel_index(DD::Image::Chan_Red), layer.channel_index(DD::Image::Chan_Green),
                         layer.channel_index(DD::Image::Chan_Blue)};
    for (int y = box.y(); y < box.t(); ++y)
      for (int x = box.x(); x < box.r(); ++x)
        for (int c : rgb) beauty->at(x, y, c) = beauty->at(x, y, c) + layer.at(x, y, from[c]);
  }
  return beauty;
}

}  // namespace quorlen::hosting
