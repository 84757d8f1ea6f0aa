/// \file atomic_file.cpp  Temporary files beside their target, renamed into place.
#include "hosting/system/atomic_file.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/interrupt.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "hosting/system/leftover_temps.h"

namespace quorlen::hosting {
namespace fs = std::filesystem;

namespace {

std::string directory_of(const std::string& target) {
  const fs::path dir = fs::path(target).parent_path();
  return dir.empty() ? std::string(".") : dir.string();
}

}  // namespace

void refuse_directory_target(const std::string& target) {
  std::error_code ec;
  if (fs::is_directory(target, ec))
    throw output_error(fmt::format("cannot write \"{}\": it is a directory", target));
}

void check_writable_target(const std::string& target) {
  std::error_code ec;
  if (target.empty()) throw output_error("the output path is empty");
  refuse_directory_target(target);
  const std::string dir = directory_of(target);
  if (!fs::exists(dir, ec))
    throw output_error(fmt::format("cannot write \"{}\": directory \"{}\" does not exist", target, dir));
  if (!fs::is_directory(dir, ec))
    throw output_error(fmt::format("cannot write \"{}\": \"{}\" is not a directory", target, dir));
  if (::access(dir.c_str(), W_OK | X_OK) != 0)
    throw output_error(
        fmt::format("cannot write \"{}\": directory \"{}\": {}", target, dir, std::strerror(errno)));
}

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {
  check_writable_target(target_);
  static std::atomic<unsigned> counter{0};
  temp_ = temporary_name_for(target_, counter.fetch_add(1));
  set_pending_temp_file(temp_);
}

AtomicFile::~AtomicFile() {
  if (!committed_) std::remove(temp_.c_str());
  set_pending_temp_file("");
}

void AtomicFile::commit() {
  if (std::rename(temp_.c_str(), target_.c_str()) != 0)
    throw output_error(fmt::format("cannot write \"{}\": {}", target_, std::strerror(errno)));
  committed_ = true;
  set_pending_temp_file("");
}

}  // namespace quorlen::hosting
