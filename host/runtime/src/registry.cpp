/// \file registry.cpp  The process-wide registry that registration records enter on load.
#include "DDImageHost/Registry.h"

#include <mutex>
#include <string>

namespace DD::Image {
namespace {

struct Registry {
  std::mutex mutex;
  std::vector<const Op::Description*> entries;
  std::vector<std::string> errors;
  std::uintptr_t next_handle = 1;
};

// Constructed on first use, so modules loaded during static initialisation find it ready; never
// destroyed, so records torn down at exit can still unregister.
Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

std::string safe(const char* s) { return s ? s : "(null)"; }

}  // namespace

Op::Description::Description(const char* name, const char* menu, Constructor constructor, int abi_version)
    : name_(name), menu_(menu), constructor_(constructor), abi_version_(abi_version) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (abi_version != kAbiVersion) {
    r.errors.push_back("class \"" + safe(name) + "\" was built for host layer version " +
                       std::to_string(abi_version) + ", but this layer is version " +
                       std::to_string(kAbiVersion) + "; registration refused");
    return;
  }
  if (!name || !*name || !constructor) {
    r.errors.push_back("a registration without a class name or factory was refused");
    return;
  }
  for (const auto* d : r.entries) {
    if (std::string_view(d->name()) == name) {
      r.errors.push_back("class \"" + safe(name) + "\" is already registered; second registration refused");
      return;
    }
  }
  handle_ = r.next_handle++;
  r.entries.push_back(this);
}

Op::Description::~Description() {
  if (handle_ == 0) return;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase(r.entries, this);
}

const Op::Description* find_description(std::string_view name) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  for (const auto* d : r.entries)
    if (name == d->name()) return d;
  return nullptr;
}

const Op::Description* find_description(std::uintptr_t handle) {
  if (handle == 0) return nullptr;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  for (const auto* d : r.entries)
    if (d->handle() == handle) return d;
  return nullptr;
}

std::vector<const Op::Description*> registered_descriptions() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return r.entries;
}

std::vector<std::string> take_registration_errors() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> out;
  out.swap(r.errors);
  return out;
}

}  // namespace DD::Image
