/// \file allocator.cpp  The host's allocator for operators.
// Tests that need it to fail link ddimage_testing (host/testing/), which interposes its own definitions.
#include <cstdlib>

#include "DDImage/Op.h"

namespace DD::Image {

void* Op::operator new(std::size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }

void Op::operator delete(void* p) noexcept { std::free(p); }

}  // namespace DD::Image
