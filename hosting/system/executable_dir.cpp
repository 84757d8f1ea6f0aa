/// \file executable_dir.cpp  The running executable's directory, from /proc.
#include "hosting/system/executable_dir.h"

#include <filesystem>

namespace quorlen::hosting {

std::string executable_dir() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace quorlen::hosting
