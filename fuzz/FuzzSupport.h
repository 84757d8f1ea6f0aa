// What the fuzz targets share: the loaded operator and a scratch file per process.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "DDImage/Op.h"
#include "app/plugin_loader.h"

namespace quorlen::fuzz {

/// The operator class of the built module, loaded once.
inline const DD::Image::Op::Description& description() {
  static const DD::Image::Op::Description& d = quorlen::app::load_module(QUORLEN_FUZZ_PLUGIN);
  return d;
}

/// Writes `size` bytes to a file of this process named with `extension` and returns its path.
inline std::string scratch_file(const std::uint8_t* data, std::size_t size, const std::string& extension) {
  const std::string path = "/tmp/quorlen-fuzz-" + std::to_string(::getpid()) + extension;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                static_cast<std::streamsize>(size));
  return path;
}

}  // namespace quorlen::fuzz
