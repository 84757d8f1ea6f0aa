/// \file frame_pipeline.h  One frame as three overlapping stages over bands of lines: read the inputs, render,
/// write.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DDImage/Executor.h"
#include "DDImage/ImageBuffer.h"
#include "DDImage/Iop.h"
#include "app/image_input.h"
#include "app/image_output.h"
#include "app/input_spec.h"
#include "app/stats.h"

namespace quorlen::app {

/// The operator's inputs, in input order.
enum InputSlot : int { kColor = 0, kNormal = 1, kPosition = 2, kNoisePosition = 3 };
inline constexpr int kInputCount = 4;
/// The operator's input labels, which are also the option names (--color, --normal, --P, --noiseP).
inline constexpr std::array<const char*, kInputCount> kInputLabels = {"color", "normal", "P", "noiseP"};

/// Where one frame's inputs come from; an empty slot is unconnected (a missing colour reads as black).
struct FrameSources {
  std::array<std::optional<InputSpec>, kInputCount> inputs;
  long long max_pixels = kDefaultMaxPixels;  ///< largest data window an input may have
};

/// The connected inputs' pixels for a band of output lines, each as red, green and blue over the band's
/// box; null for an unconnected input. The colour is always present (black when it has no source).
struct BandInputs {
  DD::Image::Box box;
  std::array<std::shared_ptr<DD::Image::ImageBuffer>, kInputCount> images;
};

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

  /// Lines per band: whole compressed blocks or tile rows of every input, and about
  /// `kBandBytes` of input samples, so memory follows the width, not the height.
  int band_lines() const;

  /// Reads lines [y0, y1) of the output's data window from every connected input, the inputs at the same
  /// time. Not to be called from two threads at once.
  BandInputs read_band(int y0, int y1);

  /// Input samples a band aims to hold, all inputs together.
  static constexpr long long kBandBytes = 8LL << 20;

 private:
  std::array<std::optional<LayerReader>, kInputCount> readers_;
  ImageGeometry geometry_;
};

/// The render stage: drives the operator node over a band.
class BandRenderer {
 public:
  BandRenderer(DD::Image::Iop& op, DD::Image::RenderOptions options);

  /// Connects the band's inputs to the node, validates it and renders red, green, blue and alpha of the
  /// band's lines into a new buffer. The lines are rendered in chunks; after each, `chunk_done` receives the
  /// number of lines finished and may throw to stop. The inputs are disconnected again before returning.
  /// One band at a time: the node is shared.
  std::shared_ptr<DD::Image::ImageBuffer> render(const BandInputs& inputs, const ImageGeometry& geometry,
                                                 const std::function<void(int)>& chunk_done);

 private:
  DD::Image::Iop& op_;
  DD::Image::Executor executor_;
};

/// How a frame is streamed.
struct StreamOptions {
  int threads = 0;     ///< worker threads for all three stages; 0 = all cores
  int band_lines = 0;  ///< 0 = FrameInputs::band_lines()
  int bands_in_flight = 3;
};

/// Reads, renders and writes one frame band by band, the stages overlapping: while one band renders, the
/// next is read and the previous one written. Returns each stage's busy seconds (the stages overlap, so
/// they may add up to more than the frame took) and the pixel count. `lines_done` runs as lines are
/// rendered and may throw to stop; an error in any stage stops the others and is rethrown. The writer is
/// left for the caller to commit.
StageTimes stream_frame(FrameInputs& inputs, DD::Image::Iop& op, ImageWriter& writer, const StreamOptions& options,
                        const std::function<void(int)>& lines_done);

}  // namespace quorlen::app
