/// \file KnobAccess.h  Reading and setting knob values from text, for host programs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Op.h"

namespace DD::Image {

/// The knob's value as text in the form set_knob accepts (e.g. "0.5", "1,0.5,0.25", "point", "x|z", "on").
std::string knob_value_text(const Knob& knob);

/// Sets knob `name` of `op` from `text`, then calls op.knob_changed with it, as a host does after an
/// edit. On failure returns false, leaves the field unchanged and puts a one-line message naming the knob
/// and the accepted forms in `error`.
bool set_knob(Op& op, std::string_view name, std::string_view text, std::string& error);

/// The knob named `name` that holds a value; null, with a message naming it (and suggesting the nearest
/// name) in `error`, when there is none.
Knob* find_knob(Op& op, std::string_view name, std::string& error);

/// Opens the panel: calls op.knob_changed(Knob::showPanel).
void open_panel(Op& op);

/// The knobs that have a value (named knobs), in declaration order.
std::vector<Knob*> value_knobs(Op& op);

}  // namespace DD::Image
