/// \file same_file.cpp  Comparing paths by the files they name.
#include "hosting/images/same_file.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <sys/stat.h>

#include <filesystem>

namespace quorlen::hosting {

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  const bool a_exists = ::stat(a.c_str(), &sa) == 0;
  const bool b_exists = ::stat(b.c_str(), &sb) == 0;
  if (a_exists && b_exists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (a_exists != b_exists) return false;
  std::error_code ea, eb;
  const auto ra = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
  const auto rb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
  return !ea && !eb && ra == rb;
}

void refuse_output_over_input(const std::string& output, const std::string& input,
                              const std::string& option) {
  if (same_file(output, input))
    throw usage_error(
        fmt::format("-o \"{}\" is the same file as the {} input \"{}\", which it would replace; "
                    "choose another output",
                    output, option, input));
}

}  // namespace quorlen::hosting
