// Image file bytes through the reader as `quorlen render` uses it: open, group layers, map passes, then read
// every layer that has three channels. The first byte picks the format by extension.
#include <array>
#include <cstdint>
#include <string>

#include <OpenImageIO/imageio.h>

#include "DDImage/ImageBuffer.h"
#include "FuzzSupport.h"
#include "app/errors.h"
#include "app/image_input.h"
#include "app/layer_mapping.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool once = [] {
    OIIO::attribute("threads", 1);
    return true;
  }();
  (void)once;
  if (size < 1) return 0;
  static const std::array<const char*, 6> extensions{".exr", ".png", ".tif", ".hdr", ".dpx", ".jpg"};
  const std::string path = quorlen::fuzz::scratch_file(data + 1, size - 1, extensions[data[0] % extensions.size()]);
  try {
    const quorlen::app::ImageFile file(path);
    (void)quorlen::app::map_passes(file.layers());
    for (const auto& layer : file.layers()) {
      try {
        // A small limit keeps damaged headers from asking for memory the fuzzer would report.
        quorlen::app::LayerReader reader(quorlen::app::ImageFile(path), layer.name, 1 << 16);
        DD::Image::ImageBuffer buffer(reader.geometry().data,
                                      {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
        reader.read_into(buffer);
      } catch (const quorlen::app::AppError&) {
      }
    }
  } catch (const quorlen::app::AppError&) {
  }
  OIIO::geterror();
  return 0;
}
