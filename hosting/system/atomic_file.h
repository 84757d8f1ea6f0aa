/// \file atomic_file.h  Writing a file under a temporary name and renaming it into place.
#pragma once

#include <string>

namespace quorlen::hosting {

/// Throws an output error (exit code 3) when `target` cannot be written: its directory is missing or not
/// writable, or the target is a directory.
void check_writable_target(const std::string& target);

/// Throws an output error (exit code 3) when `target` is a directory; checked before anything is read, also
/// when nothing is to be written.
void refuse_directory_target(const std::string& target);

/// A temporary path in the target's directory. commit() renames it onto the target; otherwise the
/// destructor removes it, so a failed or interrupted write never leaves a partial target.
class AtomicFile {
 public:
  /// Checks the target (see check_writable_target) and picks a hidden temporary name beside it.
  explicit AtomicFile(std::string target);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::string& target() const { return target_; }
  const std::string& temp_path() const { return temp_; }
  /// Renames the temporary file onto the target; throws an output error when that fails.
  void commit();

 private:
  std::string target_;
  std::string temp_;
  bool committed_ = false;
};

}  // namespace quorlen::hosting
