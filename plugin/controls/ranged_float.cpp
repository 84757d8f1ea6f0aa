/// \file ranged_float.cpp  A float control with a slider range.
#include <cmath>

#include "plugin/controls/RangedFloat.h"

namespace quorlen {

DD::Image::Knob* declare_ranged_float(DD::Image::Knob_Closure& f, float* field, KnobRange range,
                                      const char* name, const char* label) {
  DD::Image::Knob* knob = f(DD::Image::Float_Kind, DD::Image::Float_Store, field, name, label, nullptr);
  DD::Image::SetRange(f, range.min, range.max);
  if (range.forced) DD::Image::SetFlags(f, DD::Image::Knob_ForceRange);
  // A non-linear slider suits a range that starts above 0, or starts at 0 and ends on a perfect square.
  // Not "min >= 0": a range like 0 to 500 keeps a linear slider.
  if (range.min > 0.0 || (range.min == 0.0 && std::fmod(std::sqrt(range.max), 1.0) == 0.0))
    DD::Image::SetFlags(f, DD::Image::Knob_LogSlider);
  return knob;
}

}  // namespace quorlen
