/// \file executable_dir.cpp  The running executable's directory, from /proc.
#include <quorlen/module.h>

#include <filesystem>
#include <utility>

namespace quorlen::hosting {

namespace {
std::string& chosen_dir() {
  static std::string dir;
  return dir;
}
}  // namespace

void set_executable_dir(std::string dir) { chosen_dir() = std::move(dir); }

std::string executable_dir() {
  if (!chosen_dir().empty()) return chosen_dir();
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

}  // namespace quorlen::hosting
