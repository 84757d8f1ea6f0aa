/// \file render_command.h  `quorlen render`: relight passes read from image files, frame by frame.
#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "DDImage/Op.h"
#include "app/frame_pattern.h"
#include "app/frame_pipeline.h"
#include "app/node_settings.h"
#include "app/stats.h"

namespace quorlen::app {

/// Everything `quorlen render` was asked to do. Paths may hold frame patterns (#, ####, %04d).
struct RenderRequest {
  std::array<std::optional<std::string>, kInputCount> inputs;  ///< FILE or FILE:LAYER per input label
  std::optional<std::string> passes;                           ///< one file mapped to the inputs by layer names
  NodeSettings settings;
  std::string output;
  std::optional<FrameRange> frames;
  int threads = 0;  ///< 0: all cores
  long long max_pixels = kDefaultMaxPixels;  ///< largest data window an input may have
  bool stats = false;
  bool dry_run = false;
  bool progress = true;  ///< draw the progress bar (only ever on a terminal)
};

/// The frames to render: the range, or one frame (number 0, paths unchanged) without --frames. Throws a
/// usage error when patterns and --frames do not go together (an output without a pattern would be
/// overwritten by every frame; a pattern without --frames names no file).
std::vector<int> frames_of(const RenderRequest& request);

/// Resolves the inputs of one frame: explicit options, then the --passes map for the rest.
FrameSources resolve_sources(const RenderRequest& request, int frame, std::ostream* mapping_report);

/// Runs the request with the operator class `description`: renders every frame (or, with dry_run, prints
/// the mapping and settings it would use to `out`). Warnings go to `err`. Returns the stage times. Throws
/// AppError on failure; frames already written stay.
StageTimes run_render(const RenderRequest& request, const DD::Image::Op::Description& description,
                      std::ostream& out, std::ostream& err);

}  // namespace quorlen::app
