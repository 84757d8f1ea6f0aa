// Loads the built Quorlen module once per test process and creates nodes from its registration.
#pragma once

#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "DDImageHost/NodeHost.h"
#include "DDImageHost/Registry.h"

namespace quorlen::test {

/// The registration record of the real module, loaded with dlopen on first use.
inline const DD::Image::Op::Description& quorlen_description() {
  static const DD::Image::Op::Description* description = [] {
    if (!dlopen(QUORLEN_TEST_PLUGIN, RTLD_NOW | RTLD_LOCAL)) throw std::runtime_error(dlerror());
    const auto* d = DD::Image::find_description("Quorlen");
    if (!d) throw std::runtime_error("module registered no \"Quorlen\"");
    return d;
  }();
  return *description;
}

/// A new node of the real operator.
inline std::unique_ptr<DD::Image::NodeInstance> make_node() {
  std::string error;
  auto node = DD::Image::NodeInstance::create(quorlen_description(), error);
  if (!node) throw std::runtime_error(error);
  return node;
}

}  // namespace quorlen::test
