/// \file knobs_command.h  `quorlen knobs`: the operator's panel after applying settings.
#pragma once

#include <quorlen/node.h>

#include <ostream>

#include "DDImage/Op.h"

namespace quorlen::cli {

/// Creates a node, applies the settings, opens its panel and prints it to `out`: a table of label, name,
/// value, range and availability, or (with `json`) the panel's JSON description.
void run_knobs(const DD::Image::Op::Description& description, const hosting::NodeSettings& settings,
               bool json, std::ostream& out);

}  // namespace quorlen::cli
