/// \file frame_inputs.h  The read stage: a frame's inputs opened from files and read in bands of lines.
#pragma once

#include <quorlen/inputs.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DDImageHost/ImageBuffer.h"
#include "hosting/images/image_file.h"
#include "hosting/images/input_spec.h"

namespace quorlen::hosting {

class SpaceConverter;

/// The connected inputs' pixels for a band of output lines, each as red, green and blue over the band's
/// box; null for an unconnected input. The colour is always present (black when it has no source).
struct BandInputs {
  DD::Image::Box box;
  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, kInputCount> images;
  /// The colour input's alpha in the red channel, when it is read; null otherwise.
  std::shared_ptr<const DD::Image::ImageBuffer> alpha;
  /// Each mask of the frame's sources, in their order, its value in every channel.
  std::vector<std::shared_ptr<const DD::Image::ImageBuffer>> masks;
};

/// A reader of the mask's channel, found by its full name in whichever part of the file holds it. Throws an
/// input error naming the mask's owner and, for a missing channel, the channels the file has.
LayerReader open_mask(const MaskSource& mask, long long max_pixels);

/// The read stage: the open inputs of one frame. The output takes the colour input's windows (the normal
/// input's without a colour input); other inputs are read where they overlap it and are zero elsewhere.
class FrameInputs {
 public:
  /// Opens every connected input and checks its layer. Size differences are added to `warnings`.
  /// Throws a usage error for a missing normal input and for unreadable files or layers.
  FrameInputs(const FrameSources& sources, std::vector<std::string>& warnings);

  /// The output's data and display windows.
  const ImageGeometry& geometry() const { return geometry_; }
  /// What input `slot` reads ("file:layer (N.X, N.Y, N.Z)"), or nullopt when unconnected.
  std::optional<std::string> describe(int slot) const;
  /// The colour input's file and part, whose header attributes the output takes; nullopt without one.
  std::optional<std::pair<std::string, int>> colour_source() const {
    if (!readers_[kColor]) return std::nullopt;
    return std::make_pair(readers_[kColor]->path(), readers_[kColor]->subimage());
  }
  /// The colour input's colour space and what it is converted to, the other inputs' data: a line for
  /// reports ("color srgb_texture (by the config's rules) to lin_rec709; normal, P, noiseP are data").
  std::string describe_colour_spaces() const;
  /// The colour space the colour input is read in, "" without a colour input.
  const std::string& colour_space() const { return colour_space_; }

  /// What the output's alpha is read from ("file:channel"), or nullopt when it is 0.
  std::optional<std::string> describe_alpha() const;

  /// Lines per band: whole compressed blocks or tile rows of every input, and about
  /// `kBandBytes` of input samples, so memory follows the width, not the height; never more lines than
  /// the data window holds.
  int band_lines() const;
  /// Bytes one band of band_lines() takes from reading to writing (every input read, the alpha, the
  /// output), without the decoders' blocks.
  long long band_bytes() const;
  /// How many bands may be in flight at once, at most `wanted`: as many as fit the memory limit
  /// alongside the decoders' blocks, and at least one (the limit was checked when the inputs opened).
  int bands_in_flight(int wanted) const;

  /// Reads lines [y0, y1) of the output's data window from every connected input, the inputs at the same
  /// time. Not to be called from two threads at once.
  BandInputs read_band(int y0, int y1);

  /// Negates the normal input's axes `flip` and, with `axes` (the camera's), turns it from camera space into
  /// P's, after its encoding and before its light space, in every band read from now on.
  void set_normal_frame(const NormalFlip& flip,
                        const std::optional<std::array<std::array<double, 3>, 3>>& axes);

  /// Whether the normal input, as stored, has held no negative component in any band read so far, and
  /// vectors not of unit length: what normals stored as 0.5 n + 0.5 look like.
  bool normals_look_unsigned() const { return !normal_negative_ && normal_off_unit_; }

  /// Input samples a band aims to hold, all inputs together.
  static constexpr long long kBandBytes = 8LL << 20;

 private:
  void note_signs(const DD::Image::ImageBuffer& image);
  long long block_bytes() const;

  std::array<std::optional<LayerReader>, kInputCount> readers_;
  std::optional<LayerReader> alpha_reader_;
  std::vector<LayerReader> mask_readers_;
  int output_floats_ = 4;
  ImageGeometry geometry_;
  long long max_memory_ = kDefaultMaxMemory;
  LightSpace light_space_ = LightSpace::node;
  NormalEncoding normal_encoding_ = NormalEncoding::signed_values;
  std::string colour_space_;
  std::string colour_space_origin_;                          ///< how it was chosen, for reports
  std::shared_ptr<const SpaceConverter> colour_to_working_;  ///< null when nothing is converted
  NormalFlip normal_flip_{};
  std::optional<std::array<std::array<double, 3>, 3>> normal_axes_;
  long long frame_bytes_ = 0;
  bool normal_negative_ = false;
  bool normal_off_unit_ = false;
};

}  // namespace quorlen::hosting
