/// \file Testing.h  Hooks that let tests drive the layer's failure paths.
#pragma once

namespace DD::Image::testing {

/// Makes the next `count` calls of Op::operator new fail (return null). 0 restores normal allocation.
void fail_next_allocations(int count);

}  // namespace DD::Image::testing
