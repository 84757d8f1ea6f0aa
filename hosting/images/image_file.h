/// \file image_file.h  Reading passes from image files: layers (parts included) and their three components.
#pragma once

#include <quorlen/inputs.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Box.h"
#include "DDImageHost/ImageBuffer.h"
#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// "WxH" of a box, with its origin when that is not (0, 0).
std::string describe_box(const DD::Image::Box& box);

/// One layer of a file: channels of one part that share a name prefix, or a whole part.
struct LayerInfo {
  std::string name;       ///< "" for the plain channels (R, G, B, ...) of the first part
  std::string part_name;  ///< name of the part holding it, also accepted as the layer's name when the
                          ///< part holds nothing but this layer's unprefixed channels
  int subimage = 0;
  std::vector<int> channels;               ///< channel indexes within the part, in file order
  std::vector<std::string> channel_names;  ///< full channel names, in file order

  /// The name as shown to users: the name, or "(plain)" for the plain channels.
  std::string shown_name() const;
};

/// An open image file and its layers.
class ImageFile {
 public:
  /// Opens `path`; throws a usage error when it is missing, unreadable or not an image.
  explicit ImageFile(const std::string& path);
  ~ImageFile();
  ImageFile(ImageFile&&) noexcept;
  ImageFile& operator=(ImageFile&&) noexcept;

  const std::string& path() const { return path_; }
  const std::vector<LayerInfo>& layers() const { return layers_; }
  /// The layer named `name` (a part name counts), matched exactly first, then ignoring case, then by a
  /// unique last word ("DiffCol" finds "ViewLayer.DiffCol"); null if none or several.
  const LayerInfo* find_layer(std::string_view name) const;
  /// The layers whose name (or part name) has `word` as its last word: exactly, else ignoring case.
  std::vector<const LayerInfo*> layers_by_last_word(std::string_view word) const;
  /// The plain channels of the first part, or null when it has none.
  const LayerInfo* plain_layer() const;
  /// The layer `name`, or the plain layer when `name` is empty; throws a usage error listing the file's
  /// layers (and the likely one for a near miss) when it has no such layer, or several by that last word.
  const LayerInfo& layer(std::string_view name) const;
  /// Names of all layers, for messages ("(plain), N, P"), control bytes escaped.
  std::string layer_list() const;

  ImageGeometry geometry(int subimage) const;
  ImageDecoder& decoder() { return *decoder_; }
  const PartHeader& part(int subimage) const;

 private:
  std::string path_;
  std::unique_ptr<ImageDecoder> decoder_;
  std::vector<LayerInfo> layers_;
};

/// Groups channel names into layers by the part of the name before the last dot; a pure function of the
/// parts' names and channel names, in file order. Exposed for tests.
std::vector<LayerInfo> group_layers(const std::vector<std::string>& part_names,
                                    const std::vector<std::vector<std::string>>& channel_names);

/// Positions (within the layer's channel list) of the channels that give the components x, y, z: the
/// channels named x, y, z or r, g, b or red, green, blue (ignoring case, the plain layer preferring r, g, b),
/// else the first three in file order. Throws a usage error when the layer has fewer than three channels.
std::array<int, 3> component_positions(const LayerInfo& layer, const std::string& path);

/// The widest data window allowed is the pixel limit divided by this (1048576 by default), but at least
/// kMinWidthLimit, since a band holds whole lines.
inline constexpr long long kWidthShare = 256;
inline constexpr long long kMinWidthLimit = 65536;

/// Reads one layer's three components as float, as stored (no colour conversion).
class LayerReader {
 public:
  /// Takes the file; `layer` names the layer ("" for the plain channels). Throws a usage error when the
  /// layer's data window is empty or holds more than `max_pixels` pixels.
  LayerReader(ImageFile file, std::string_view layer, long long max_pixels = kDefaultMaxPixels);
  /// Reads channel `channel` (an index within the subimage `subimage`) as all three components.
  LayerReader(ImageFile file, int subimage, int channel, long long max_pixels = kDefaultMaxPixels);
  ~LayerReader();
  LayerReader(LayerReader&&) noexcept;
  LayerReader& operator=(LayerReader&&) noexcept;

  const ImageGeometry& geometry() const { return geometry_; }
  /// "file:layer (N.X, N.Y, N.Z)".
  std::string description() const;
  const std::string& path() const { return file_.path(); }
  int subimage() const { return subimage_; }
  /// The colour space the file names for the layer's part, "" when it names none.
  const std::string& named_colour_space() const { return file_.part(subimage_).colour_space; }
  /// Full names of the three channels read, in component order.
  const std::array<std::string, 3>& component_names() const { return names_; }
  /// Lines the file stores (and decodes) together: the tile height, or the lines of one compressed block
  /// of a scanline file (1 when each line stands alone). Reads aligned to it decode nothing twice.
  int chunk_lines() const;
  /// Bytes the decoder holds while it decodes one block: every channel of the part, compressed and not,
  /// taken as four bytes a sample.
  long long block_bytes() const;

  /// Writes the components into the red, green and blue channels of `dst` where the layer's data window
  /// overlaps dst's box; the other pixels of `dst` are left as they are. Throws a usage error when the file
  /// cannot be read (truncated or damaged). One reader is not to be used from two threads at once; separate
  /// readers may read at the same time.
  void read_into(DD::Image::ImageBuffer& dst);

 private:
  void check_size(long long max_pixels);

  ImageFile file_;
  int subimage_ = 0;
  std::array<int, 3> channels_{};  // channel indexes within the part
  std::array<std::string, 3> names_;
  std::string layer_;
  ImageGeometry geometry_;
};

}  // namespace quorlen::hosting
