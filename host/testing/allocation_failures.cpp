/// \file allocation_failures.cpp  The operator allocator for tests: libddimage's, plus failures on request.
// Linked into a test executable, these definitions come first in symbol lookup, so modules and libddimage
// itself allocate operators here instead of in host/src/allocator.cpp.
#include <atomic>
#include <cstdlib>

#include "DDImage/Op.h"
#include "DDImageHost/Testing.h"

namespace DD::Image {
namespace {
std::atomic<int> failures_pending{0};

bool take_failure() {
  int n = failures_pending.load(std::memory_order_relaxed);
  while (n > 0) {
    if (failures_pending.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}
}  // namespace

void* Op::operator new(std::size_t size) noexcept {
  if (take_failure()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void Op::operator delete(void* p) noexcept { std::free(p); }

namespace testing {
void fail_next_allocations(int count) { failures_pending.store(count < 0 ? 0 : count); }
}  // namespace testing

}  // namespace DD::Image
