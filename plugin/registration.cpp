/// \file registration.cpp  The registration record and the factory the host calls per node.
#include "plugin/Quorlen.h"

namespace quorlen {
namespace {

// Releases the storage unless construction succeeded, so a throwing constructor leaks nothing.
class StorageGuard {
 public:
  explicit StorageGuard(void* storage) : storage_(storage) {}
  ~StorageGuard() {
    if (storage_) DD::Image::Op::operator delete(storage_);
  }
  void release() { storage_ = nullptr; }
  StorageGuard(const StorageGuard&) = delete;
  StorageGuard& operator=(const StorageGuard&) = delete;

 private:
  void* storage_;
};

const DD::Image::Op::Description description("Quorlen", "Quorlen", create_operator);

}  // namespace

DD::Image::Iop* create_operator(DD::Image::Node* node) {
  void* storage = DD::Image::Op::operator new(sizeof(Quorlen));
  if (!storage) return nullptr;
  StorageGuard guard(storage);
  auto* op = ::new (storage) Quorlen(node);
  guard.release();
  return op;
}

std::uintptr_t Quorlen::registration_handle() const { return description.handle(); }

}  // namespace quorlen
