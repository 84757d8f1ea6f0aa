/// \file frame_pipeline.h  One frame as three overlapping stages over bands of lines: read the inputs,
/// render, write.
#pragma once

#include <quorlen/stage_times.h>

#include <functional>

#include "DDImage/Iop.h"
#include "hosting/frames/frame_inputs.h"
#include "hosting/frames/region_renderer.h"
#include "hosting/images/image_writer.h"

namespace quorlen::hosting {

class LightFactor;

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
StageTimes stream_frame(FrameInputs& inputs, DD::Image::Iop& op, ImageWriter& writer,
                        const StreamOptions& options, const std::function<void(int)>& lines_done);

/// One light of a rig in the render stage: its node, and the mask (an index into the frame's masks, -1 for
/// none) its output is multiplied by, or by 1 - m when inverted.
struct LightPass {
  DD::Image::Iop* op = nullptr;
  int mask = -1;
  bool invert = false;
  /// Its shadows and cone, applied before the mask; null for none.
  const LightFactor* factor = nullptr;
};

/// The same for several lights, each band rendered for every light while its inputs are in memory: each
/// light's layer is its node's output times its mask, in float; the beauty is the layers added in float in
/// their order ((first + second) + third), black without any; alpha as for one light. With `layers`, each
/// light's red, green and blue go to the writer beside the beauty.
/// How much of the surface each light reaches, counted while the bands render: pixels with a normal, those
/// whose normal points along +z as the node sees it, and for each light the surface pixels its node lit.
struct LightReach {
  long long surface = 0;
  long long facing_z = 0;
  std::vector<long long> lit;
};

StageTimes stream_lights(FrameInputs& inputs, const std::vector<LightPass>& lights, bool layers,
                         ImageWriter& writer, const StreamOptions& options,
                         const std::function<void(int)>& lines_done, LightReach* reach = nullptr);

}  // namespace quorlen::hosting
