/// \file Testing.h  Hooks that let tests drive the layer's failure paths (library ddimage_testing, never
/// installed: a test linking it replaces the host's operator allocator with one that can be made to fail).
#pragma once

namespace DD::Image::testing {

/// Makes the next `count` calls of Op::operator new fail (return null). 0 restores normal allocation.
void fail_next_allocations(int count);

}  // namespace DD::Image::testing
