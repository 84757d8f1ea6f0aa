/// \file knob_strips.h  One picture per knob: the demo scene relit at several values across its range.
#pragma once

#include <quorlen/node.h>

#include <ostream>
#include <string>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::demo {

/// The values one knob takes along a strip, left to right, over settings that stay the same.
struct KnobStrip {
  std::string knob;                         ///< the knob varied; the strip is written as KNOB.png
  std::string word;                         ///< the tiles' labels start with it: "radius 2"
  std::vector<std::string> values;          ///< in the forms `--set` takes
  std::vector<hosting::KnobSetting> fixed;  ///< set before the knob, on every tile
  bool noise_on_position = false;           ///< the position layer feeds the noise position too
};

/// The strips the demo writes, one per knob.
const std::vector<KnobStrip>& knob_strips();

/// Renders every strip into `dir` (created if missing) as KNOB.png, printing each path to `out`. The
/// tiles are the demo scene at 200x112, rendered through the same code as `quorlen render` in a hidden
/// working directory under `dir` that is removed afterwards.
void write_knob_strips(const DD::Image::Op::Description& description, const std::string& dir, int threads,
                       std::ostream& out, std::ostream& err);

}  // namespace quorlen::demo
