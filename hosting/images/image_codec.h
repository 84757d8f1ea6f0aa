/// \file image_codec.h  What the command needs of an image-file library: headers, float lines in, lines out.
///
/// Two libraries stand behind this: OpenEXR, linked in, for EXR files (the common case, and the one that must
/// start fast), and OpenImageIO for every other format, in a module loaded on first use because loading it
/// and the hundreds of libraries it pulls in takes longer than rendering a frame.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "DDImage/Box.h"

namespace quorlen::hosting {

/// A library's failure, with a one-line reason; the caller says which file and what it was doing.
struct codec_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// One part (subimage) of a file, from its header.
struct PartHeader {
  std::string name;                   ///< the part's name, "" when it has none
  std::vector<std::string> channels;  ///< full channel names, in the order the library presents them
  DD::Image::Box data;                ///< data window, y counting down the picture as stored
  DD::Image::Box display;             ///< display window
  int tile_width = 0;                 ///< 0 for scanline images
  int tile_height = 0;
  int block_lines = 1;  ///< lines stored (and decoded) together by a scanline image
  /// Buffers of one block's (or tile's) samples that reading holds at once: the library's line buffer and
  /// its decompression buffer, or three per thread where blocks are decoded in parallel.
  int blocks_in_memory = 2;
  bool deep = false;
  int depth = 1;                        ///< more than 1 for volumes
  std::vector<std::string> subsampled;  ///< channels stored at less than one sample per pixel
  /// The colour space the file names for its pixels, as image tools record it (an `oiio:ColorSpace` string,
  /// else a string attribute `colorspace` in any case); "" when it names none.
  std::string colour_space;
  /// The renderer's camera, when the header records it (OpenEXR's worldToCamera and worldToNDC, points as
  /// rows multiplied on the left), row by row.
  std::optional<std::array<double, 16>> world_to_camera;
  std::optional<std::array<double, 16>> world_to_ndc;
};

/// An open file being read. Not for use from two threads at once.
class ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;
  /// The library's name of the format ("openexr", "png", ...).
  virtual std::string format_name() const = 0;
  virtual const std::vector<PartHeader>& parts() const = 0;
  /// Reads channels [ch_begin, ch_end) of lines [y_begin, y_end) of `part`, across the whole data window, as
  /// float: the sample of column x, line y, channel c lands at byte offset
  /// (x - data.x) * xstride + (y - y_begin) * ystride + (c - ch_begin) * 4 from `dst`. Tiled parts are read
  /// in whole tile rows, so y_begin must start one and y_end end one (or the window). Throws codec_error.
  virtual void read(int part, int y_begin, int y_end, int ch_begin, int ch_end, float* dst,
                    std::ptrdiff_t xstride, std::ptrdiff_t ystride) = 0;
};

/// How a file is to be written.
struct EncoderSpec {
  DD::Image::Box data;                ///< lines and columns written
  DD::Image::Box display;             ///< kept by formats that store windows
  std::vector<std::string> channels;  ///< names, in sample order
  bool eight_bit = false;             ///< 8-bit codes instead of 32-bit float
  bool sixteen_bit = false;           ///< 16-bit codes (uint16 samples) instead of 32-bit float
  bool half = false;                  ///< float samples stored as 16-bit half floats
  std::string compression = {};       ///< the format's name of a compression; "" for the default
  /// A file whose header attributes (part `attributes_part`) the output takes, except those it defines
  /// itself (channels, windows, compression, line order, types); "" for none. Best effort: a source that
  /// cannot be read gives no attributes.
  std::string attributes_from = {};
  int attributes_part = 0;
  bool srgb = false;  ///< the codes carry the sRGB transfer (else linear)
  /// The colour config's name of the float samples' space, recorded as `oiio:ColorSpace` where the format
  /// holds attributes (as image tools read it); "" records the generic linear or sRGB.
  std::string colour_space = {};
  bool keep_windows = true;  ///< store the windows where the format can (else the image starts at 0, 0)
  /// Favour encoding time over file size (PNG: the fastest zlib level, no line filters): for previews
  /// encoded again after every change. The samples stored are the same.
  bool fast = false;
  /// When set, the file's bytes are appended here instead of being written to a file (formats that can).
  std::vector<unsigned char>* memory = nullptr;
};

/// A file being written, lines in order top to bottom. Destroying it before close() leaves the file
/// unfinished; the caller removes it.
class ImageEncoder {
 public:
  virtual ~ImageEncoder() = default;
  /// Writes `count` whole lines of interleaved samples (float, bytes when eight_bit, uint16 when
  /// sixteen_bit).
  virtual void write(int count, const void* samples) = 0;
  /// Finishes the file. Throws codec_error.
  virtual void close() = 0;
};

/// The module's face: OpenImageIO behind an interface the command alone defines.
class ImageLibrary {
 public:
  virtual ~ImageLibrary() = default;
  /// Opens `path` for reading; throws codec_error.
  virtual std::unique_ptr<ImageDecoder> open(const std::string& path) const = 0;
  /// The name of the format a file called `path` would be written in, "" when none is known.
  virtual std::string writer_format(const std::string& path) const = 0;
  /// Creates `file` in the format chosen by `path`'s extension; throws codec_error.
  virtual std::unique_ptr<ImageEncoder> create(const std::string& path, const std::string& file,
                                               const EncoderSpec& spec) const = 0;
  /// Threads the library may use of its own; 0 lets it choose.
  virtual void set_threads(int threads) const = 0;
};

/// The entry point the module exports, looked up by this name.
inline constexpr const char* kImageLibraryEntry = "quorlen_image_library";
using ImageLibraryEntry = const ImageLibrary* (*)();

}  // namespace quorlen::hosting
