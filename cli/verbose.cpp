/// \file verbose.cpp  Module paths for --verbose.
#include "cli/verbose.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <quorlen/module.h>

#include <filesystem>

#include "DDImage/Version.h"

namespace quorlen::cli {
namespace {

std::string absolute(const std::string& path) {
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : canonical.string();
}

}  // namespace

void report_modules(const std::string& module_path, std::FILE* out) {
  // The host layer is the library that defines its own version query.
  Dl_info info{};
  const bool found =
      dladdr(reinterpret_cast<void*>(&DD::Image::loaded_abi_version), &info) != 0 && info.dli_fname;
  fmt::print(out, "quorlen: host layer {} (version {})\n", found ? absolute(info.dli_fname) : "(unknown)",
             DD::Image::loaded_abi_version());
  fmt::print(out, "quorlen: plug-in {} (built for host layer {})\n", absolute(module_path),
             DD::Image::kAbiVersion);
}

void report_image_module(std::FILE* out) {
  static bool reported = false;
  if (reported) return;
  const std::string path = hosting::loaded_image_module();
  if (path.empty()) return;
  reported = true;
  fmt::print(out, "quorlen: image library module {}\n", absolute(path));
}

}  // namespace quorlen::cli
