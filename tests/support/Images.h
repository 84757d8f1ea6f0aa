// Small in-memory inputs for operator tests.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "DDImageHost/ImageBuffer.h"
#include "DDImageHost/MemorySource.h"

namespace quorlen::test {

using Pixel3 = std::array<float, 3>;

/// A source of the given box whose red, green and blue hold fill(x, y).
inline std::unique_ptr<DD::Image::MemorySource> rgb_source(const DD::Image::Format& format,
                                                           const DD::Image::Box& box,
                                                           const std::function<Pixel3(int, int)>& fill) {
  using namespace DD::Image;
  auto image = std::make_shared<ImageBuffer>(box, std::vector<Channel>{Chan_Red, Chan_Green, Chan_Blue});
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x) {
      const Pixel3 v = fill(x, y);
      for (int k = 0; k < 3; ++k) image->at(x, y, k) = v[static_cast<std::size_t>(k)];
    }
  return std::make_unique<MemorySource>(format, image);
}

/// A one-pixel source holding v.
inline std::unique_ptr<DD::Image::MemorySource> pixel_source(Pixel3 v) {
  return rgb_source({1, 1}, {0, 0, 1, 1}, [v](int, int) { return v; });
}

}  // namespace quorlen::test
