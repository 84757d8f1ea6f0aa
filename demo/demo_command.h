/// \file demo_command.h  `quorlen demo`: the built-in scene, relit several ways.
#pragma once

#include <quorlen/node.h>

#include <ostream>
#include <string>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::demo {

/// One relit preview of the demo: file name, label and knob settings; `noise_on_position` connects the
/// position layer as the noise position too, so the bumps stay fixed to the surfaces. `rig`, when not empty,
/// is a settings file's JSON given in memory (a light with a shadow or a spot).
struct DemoPreview {
  std::string file;
  std::string label;
  std::vector<hosting::KnobSetting> sets;
  bool noise_on_position = false;
  std::string rig = {};
};

/// The previews the demo renders, in contact-sheet order.
const std::vector<DemoPreview>& demo_previews();

/// Writes demo_passes.exr (480x270), the previews as PNG, contact_sheet.png and, in knobs/, a strip per
/// knob into `dir` (created if missing), printing each path to `out`.
void run_demo(const DD::Image::Op::Description& description, const std::string& dir, int threads,
              std::ostream& out, std::ostream& err);

}  // namespace quorlen::demo
