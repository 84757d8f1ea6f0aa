// Image file bytes through the reader as `quorlen render` uses it: open, group layers, map passes, then read
// every layer that has three channels. The first byte picks the format by extension.
#include <quorlen/errors.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "DDImageHost/ImageBuffer.h"
#include "FuzzSupport.h"
#include "hosting/images/codecs.h"
#include "hosting/images/image_file.h"
#include "hosting/images/layer_mapping.h"

namespace {

// A small limit keeps damaged headers from asking for memory the fuzzer would report.
constexpr long long kPixelLimit = 1 << 16;

// OpenEXR allocates and fills an attribute's declared length (up to 2 GiB), and libpng a chunk's (up to
// 2 GiB), before either finds the file too short; OpenEXR also allocates line and tile buffers for the
// declared size when the file is opened, before the reader can apply its pixel limit. These are traits of
// those libraries that would otherwise take most of the fuzzing time, so such inputs are skipped.

std::uint32_t little_endian(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

std::uint32_t big_endian(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// Whether every attribute of an OpenEXR file's headers fits in the bytes given.
bool exr_attributes_fit(const std::uint8_t* data, std::size_t size) {
  const bool multipart = (data[5] & 0x10) != 0;
  std::size_t at = 8;
  while (at < size) {
    if (data[at] == 0) {  // end of a header; a multi-part file ends with an empty one
      ++at;
      if (!multipart || (at < size && data[at] == 0)) return true;
      continue;
    }
    const std::size_t name = at;
    while (at < size && data[at] != 0) ++at;
    const std::size_t type = ++at;
    while (at < size && data[at] != 0) ++at;
    ++at;
    if (at + 4 > size) return true;
    const std::uint32_t length = little_endian(data + at);
    at += 4;
    if (length > size - at) return false;
    const auto is = [&](std::size_t from, std::string_view text) {
      return size - from > text.size() && std::equal(text.begin(), text.end(), data + from) &&
             data[from + text.size()] == 0;
    };
    // Box (x0, y0, x1, y1) of the data window; tile width and height of a tiled part.
    const auto field = [&](int i) { return static_cast<std::int32_t>(little_endian(data + at + 4 * i)); };
    if (is(name, "dataWindow") && is(type, "box2i") && length == 16) {
      const long long w = static_cast<long long>(field(2)) - field(0) + 1;
      const long long h = static_cast<long long>(field(3)) - field(1) + 1;
      if (w > kPixelLimit || h > kPixelLimit || (w > 0 && h > 0 && w * h > kPixelLimit)) return false;
    }
    if (is(name, "tiles") && is(type, "tiledesc") && length >= 8 &&
        static_cast<long long>(little_endian(data + at)) * little_endian(data + at + 4) > kPixelLimit)
      return false;
    at += length;
  }
  return true;
}

// Whether every chunk of a PNG file fits in the bytes given.
bool png_chunks_fit(const std::uint8_t* data, std::size_t size) {
  for (std::size_t at = 8; at + 8 <= size;) {
    const std::uint32_t length = big_endian(data + at);
    at += 8;
    if (length > size - at) return false;
    at += length + std::size_t{4};  // data, checksum
  }
  return true;
}

bool lengths_fit(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint8_t exr[] = {0x76, 0x2f, 0x31, 0x01};
  static constexpr std::uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size >= 8 && std::equal(exr, exr + 4, data)) return exr_attributes_fit(data, size);
  if (size >= 8 && std::equal(png, png + 8, data)) return png_chunks_fit(data, size);
  return true;
}

}  // namespace

// The image library module pulls in some hundreds of shared libraries, slow to load under the sanitizers on a
// busy machine: loaded here, before any input is timed, it cannot make the first non-EXR input a timeout.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  quorlen::hosting::set_library_threads(1);
  try {
    (void)quorlen::hosting::image_library();
  } catch (const quorlen::hosting::codec_error&) {
    // Left for the inputs to report as they would without the module.
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool once = [] {
    quorlen::hosting::set_library_threads(1);
    return true;
  }();
  (void)once;
  if (size < 1) return 0;
  static const std::array<const char*, 6> extensions{".exr", ".png", ".tif", ".hdr", ".dpx", ".jpg"};
  if (!lengths_fit(data + 1, size - 1)) return 0;
  const quorlen::fuzz::ScratchFile scratch(data + 1, size - 1, extensions[data[0] % extensions.size()]);
  const std::string& path = scratch.path();
  try {
    const quorlen::hosting::ImageFile file(path);
    (void)quorlen::hosting::map_passes(file.layers());
    for (const auto& layer : file.layers()) {
      try {
        quorlen::hosting::LayerReader reader(quorlen::hosting::ImageFile(path), layer.name, kPixelLimit);
        DD::Image::ImageBuffer buffer(reader.geometry().data,
                                      {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
        reader.read_into(buffer);
      } catch (const quorlen::hosting::Error&) {
      }
    }
  } catch (const quorlen::hosting::Error&) {
  }
  return 0;
}
