/// \file image_writer.h  Writing rendered RGBA lines to an image file, the format chosen by the extension.
#pragma once

#include <quorlen/colour.h>
#include <quorlen/images.h>
#include <quorlen/output.h>

#include <memory>
#include <string>
#include <vector>

#include "DDImageHost/ImageBuffer.h"
#include "hosting/images/image_codec.h"
#include "hosting/images/image_file.h"
#include "hosting/system/atomic_file.h"

namespace quorlen::hosting {

class DisplayEncoder;
class SpaceConverter;

/// How the four rendered channels are stored.
enum class OutputEncoding {
  float_rgba,  ///< 32-bit float R, G, B, A, linear (EXR, TIFF)
  float_rgb,   ///< 32-bit float R, G, B, linear (HDR, which has no alpha)
  srgb8_rgb,   ///< 8-bit (or 16-bit with DataType::uint16) R, G, B with the sRGB transfer: previews
};

/// The output file, its format and encoding.
struct OutputPlan {
  std::string path;
  std::string format_name;  ///< the library's name of the format ("openexr", "png", ...)
  OutputEncoding encoding = OutputEncoding::float_rgba;
  DataType type = DataType::float32;
  std::string compression = {};      ///< "" for the format's default
  std::string attributes_from = {};  ///< a file whose header attributes EXR and TIFF outputs take
  int attributes_part = 0;
  bool fast = false;  ///< favour encoding time over size (see EncoderSpec::fast)
  /// Layers written beside the beauty, `NAME.R`, `NAME.G`, `NAME.B` each (EXR only).
  std::vector<std::string> layers;
  DisplayView display;       ///< what integer outputs are shown through
  std::string colour_space;  ///< what float outputs are written in
};

/// The layout of an 8-bit R, G, B image of codes starting at 0, 0: previews in memory and written whole.
EncoderSpec rgb8_layout(int width, int height);

/// Chooses the format from the extension and the sample type and compression from `options`; throws a
/// usage error when no writer knows the extension or the format cannot hold the choice.
OutputPlan plan_output(const std::string& path, const OutputOptions& options = {});

/// "32-bit float RGBA (openexr)" and the like.
std::string describe(const OutputPlan& plan);

/// Writes lines, top to bottom, to a temporary file beside the target; commit() renames it into place.
/// A writer destroyed before commit() leaves nothing behind.
class ImageWriter {
 public:
  /// Opens the temporary file for an image of `geometry`; throws an output error on failure.
  ImageWriter(const OutputPlan& plan, const ImageGeometry& geometry);
  ~ImageWriter();
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  /// Writes the lines of `rgba` (channels R, G, B, A over whole lines of the data window), which must
  /// continue where the previous call ended.
  void write_lines(const DD::Image::ImageBuffer& rgba);
  /// The same with each of the plan's layers' red, green and blue from `layers` (one buffer a layer, over
  /// the same lines); layers are ignored when the plan has none.
  void write_lines(const DD::Image::ImageBuffer& rgba,
                   const std::vector<std::shared_ptr<DD::Image::ImageBuffer>>& layers);
  /// Closes the file and renames it onto the target.
  void commit();
  /// Pixels written so far with a non-finite channel (NaN or infinity).
  long long non_finite_pixels() const { return non_finite_; }

 private:
  OutputPlan plan_;
  ImageGeometry geometry_;
  AtomicFile file_;
  std::unique_ptr<ImageEncoder> out_;
  std::unique_ptr<DisplayEncoder> display_;       ///< integer outputs
  std::unique_ptr<SpaceConverter> output_space_;  ///< float outputs in a space other than the working one
  int next_line_;
  long long non_finite_ = 0;
};

}  // namespace quorlen::hosting
