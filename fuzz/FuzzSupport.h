// What the fuzz targets share: the loaded operator and a scratch file per process.
#pragma once

#include <quorlen/module.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "DDImage/Op.h"

namespace quorlen::fuzz {

/// The operator class of the built module, loaded once.
inline const DD::Image::Op::Description& description() {
  static const DD::Image::Op::Description& d = quorlen::hosting::load_module(QUORLEN_FUZZ_PLUGIN);
  return d;
}

/// Input bytes as a file of this process, named with an extension; removed again when it goes out of scope.
class ScratchFile {
 public:
  ScratchFile(const std::uint8_t* data, std::size_t size, const std::string& extension)
      : path_("/tmp/quorlen-fuzz-" + std::to_string(::getpid()) + extension) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  /// Where the bytes are.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace quorlen::fuzz
