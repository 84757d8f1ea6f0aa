/// \file working_space.cpp  Pixels held in memory brought to the working space, as the read stage brings a
/// file's colour input.
#include <quorlen/colour.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <vector>

#include "hosting/colour/display_encoder.h"

namespace quorlen::hosting {

std::shared_ptr<const DD::Image::ImageBuffer> in_working_space(
    std::shared_ptr<const DD::Image::ImageBuffer> image, const std::string& space) {
  if (!image) return image;
  const SpaceConverter converter(space, colour_config().working_space);
  if (converter.identity()) return image;
  const DD::Image::ImageBuffer& given = *image;
  // The processor takes red, green and blue (and alpha) packed in that order.
  const int n = given.channel_count();
  const bool packed = (n == 3 || n == 4) && given.channel_index(DD::Image::Chan_Red) == 0 &&
                      given.channel_index(DD::Image::Chan_Green) == 1 &&
                      given.channel_index(DD::Image::Chan_Blue) == 2;
  auto out = std::make_shared<DD::Image::ImageBuffer>(given.box(), given.channels());
  std::copy(given.data(), given.data() + given.size(), out->data());
  const DD::Image::Box& box = out->box();
  const auto width = static_cast<std::size_t>(std::max(0, box.w()));
  if (width == 0) return out;
  const int r = given.channel_index(DD::Image::Chan_Red), g = given.channel_index(DD::Image::Chan_Green),
            b = given.channel_index(DD::Image::Chan_Blue);
  tbb::parallel_for(tbb::blocked_range<int>(box.y(), box.t(), std::max(1, 16384 / box.w())),
                    [&](const tbb::blocked_range<int>& lines) {
                      std::vector<float> rgb(packed ? 0 : width * 3);
                      for (int y = lines.begin(); y < lines.end(); ++y) {
                        float* line = out->line(y);
                        if (packed) {
                          converter.apply(line, width, n);
                          continue;
                        }
                        for (std::size_t x = 0; x < width; ++x) {
                          const float* p = line + x * static_cast<std::size_t>(n);
                          rgb[3 * x] = p[r], rgb[3 * x + 1] = p[g], rgb[3 * x + 2] = p[b];
                        }
                        converter.apply(rgb.data(), width, 3);
                        for (std::size_t x = 0; x < width; ++x) {
                          float* p = line + x * static_cast<std::size_t>(n);
                          p[r] = rgb[3 * x], p[g] = rgb[3 * x + 1], p[b] = rgb[3 * x + 2];
                        }
                      }
                    });
  return out;
}

}  // namespace quorlen::hosting
