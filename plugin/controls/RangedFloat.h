/// \file RangedFloat.h  A float control with a slider range, as the panel declares it.
#pragma once

#include "DDImage/Knob.h"

namespace quorlen {

/// Range of a ranged float control; lives only for its declaration.
struct KnobRange {
  double min;
  double max;
  bool forced;
};

/// Declares a float control with a range: the range, flag 0x10 when forced, and flag 0x4 when min > 0 or
/// min == 0 with a perfect-square max. Returns the declared knob.
DD::Image::Knob* declare_ranged_float(DD::Image::Knob_Closure& f, float* field, KnobRange range,
                                      const char* name, const char* label);

}  // namespace quorlen
