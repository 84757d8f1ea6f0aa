/// \file frame_lights.h  The lights of one frame of a render: their nodes, which are kept, their masks,
/// what the render stage and the writer need of them, and how --dry-run shows them.
#pragma once

#include <quorlen/render.h>
#include <quorlen/rig.h>

#include <ostream>
#include <vector>

#include "hosting/frames/frame_pipeline.h"

namespace quorlen::hosting {

struct FrameLights {
  RigFile rig;
  std::vector<LightNode> nodes;  ///< every light of the file, muted ones too
  std::vector<bool> kept;        ///< whether each is rendered
  std::vector<int> mask_index;   ///< each light's mask among the frame's sources, -1 for none

  /// One light from a file without lights, rendered as it always was.
  bool single() const { return !rig.is_rig(); }
  /// The names of the lights rendered, in order.
  std::vector<std::string> kept_names() const;
};

/// The settings of `request` at `frame` (a pattern in the settings file's path substituted).
NodeSettings settings_at(const RenderRequest& request, int frame);

/// Builds the frame's lights; throws a usage error naming the light and the key.
FrameLights frame_lights(const DD::Image::Op::Description& description, const RenderRequest& request,
                         int frame);

/// Adds the kept lights' masks (their files' patterns substituted for `frame`) to `sources`, and the memory
/// the render stage takes for them.
void add_masks(FrameLights& lights, const RenderRequest& request, int frame, FrameSources& sources);

/// What the render stage renders, kept lights only.
std::vector<LightPass> light_passes(const FrameLights& lights);

/// --dry-run's lines for the lights: the knobs every light shares, then each light's own.
void print_lights(std::ostream& out, FrameLights& lights, const DD::Image::Op::Description& description,
                  const RenderRequest& request, int frame);

}  // namespace quorlen::hosting
