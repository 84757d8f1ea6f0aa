/// \file render.h  A render job: relight passes read from image files, frame by frame, into output files.
#pragma once

#include <quorlen/frames.h>
#include <quorlen/inputs.h>
#include <quorlen/node.h>
#include <quorlen/output.h>
#include <quorlen/stage_times.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::hosting {

/// Where the output's alpha comes from: the colour input's alpha when it has one (EXR and TIFF), or 0 as
/// the node writes it.
enum class AlphaChoice { colour, zero };

/// Everything `quorlen render` was asked to do. Paths may hold frame patterns (#, ####, %04d).
struct RenderRequest {
  std::array<std::optional<std::string>, kInputCount> inputs;  ///< FILE or FILE:LAYER per input label
  std::optional<std::string> passes;  ///< one file mapped to the inputs by layer names
  NodeSettings settings;
  std::string output;
  std::optional<FrameList> frames;
  bool skip_existing = false;                ///< frames whose output file exists are not rendered again
  int threads = 0;                           ///< 0: all cores
  long long max_pixels = kDefaultMaxPixels;  ///< largest data window an input may have
  long long max_memory = kDefaultMaxMemory;  ///< bytes a frame's bands may take together
  bool stats = false;
  bool dry_run = false;
  // How passes from a renderer are to be read; unset, the settings file's choice, else node and signed.
  std::optional<LightSpace> light_space;
  std::optional<NormalEncoding> normal_encoding;
  std::optional<NormalSpace> normal_space;
  std::optional<NormalFlip> normal_flip;
  AlphaChoice alpha = AlphaChoice::colour;
  // A rig's lights: names to render alone (with every other light muted) or to leave out, and whether
  // each light gets a layer of its own in outputs that hold layers.
  std::vector<std::string> solo;
  std::vector<std::string> mute;
  bool light_layers = true;
  OutputOptions output_options;                     ///< -d, --compression and the output's colour
  std::map<std::string, std::string> input_spaces;  ///< --colorspace: input label to colour space
};

/// What a job reports while it runs; members left empty are not called. A callback may throw to stop the
/// job: the unfinished output is removed and frames already written stay.
struct RenderObserver {
  std::function<void(const std::string&)> warning;  ///< a one-line warning, without the "warning:" tag
  std::function<void(int frame, int index, int count)> frame_started;
  std::function<void(double fraction)> frame_progress;  ///< of the frame being rendered, 0 to 1
  std::function<void(int frame, int index, int count, double seconds)> frame_finished;
  std::function<void(int frame, int index, int count)> frame_skipped;  ///< its output exists already
  /// Each input as read ("normal  shot.exr:N (N.X, N.Y, N.Z)") and the output, before the frame renders.
  std::function<void(int frame, const std::vector<std::string>& inputs)> frame_inputs;
};

/// How a frame's passes are read: the request's light space and encoding, else its settings file's (read
/// at `frame`), else node space and signed normals.
struct PassReading {
  LightSpace light_space = LightSpace::node;
  NormalEncoding normal_encoding = NormalEncoding::signed_values;
  NormalSpace normal_space = NormalSpace::world;
  NormalFlip normal_flip{};
};
PassReading pass_reading(const RenderRequest& request, int frame);

/// The reading a front end names, each member unset where it leaves the choice to the settings file.
struct PassChoices {
  std::optional<LightSpace> light_space;
  std::optional<NormalEncoding> normal_encoding;
  std::optional<NormalSpace> normal_space;
  std::optional<NormalFlip> normal_flip;
};

/// The frames to render: the list, or one frame (number 0, paths unchanged) without --frames. Throws a
/// usage error when patterns and --frames do not go together (an output without a pattern would be
/// overwritten by every frame; a pattern without --frames names no file).
std::vector<int> frames_of(const RenderRequest& request);

/// The problems a request can show before the operator's module is loaded: patterns against --frames,
/// negative thread counts. Throws a usage error; front ends call it first so that a mistyped command line is
/// reported without looking for the module.
void check_request(const RenderRequest& request);

/// Refuses `target`, a path a front end will write for `frame`, when it is a directory or one of the
/// frame's inputs, or its settings file unless `may_be_settings` (a save over the file it came from). An
/// output is renamed over its target only when complete, but that would still destroy a pass. Throws a
/// usage error.
void refuse_output_target(const RenderRequest& request, const FrameSources& sources, int frame,
                          const std::string& target, bool may_be_settings = false);

/// Resolves the inputs of one frame: explicit options, then the --passes map for the rest.
FrameSources resolve_sources(const RenderRequest& request, int frame, std::ostream* mapping_report);

/// Runs the request with the operator class `description`: renders every frame (or, with dry_run, prints
/// the mapping and settings it would use to `out`). Returns the stage times. Throws Error on failure
/// (also when a stop was asked for, see interrupt.h); frames already written stay.
StageTimes run_render(const RenderRequest& request, const DD::Image::Op::Description& description,
                      std::ostream& out, const RenderObserver& observer = {});

}  // namespace quorlen::hosting
