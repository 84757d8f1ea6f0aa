/// \file quiet_stderr.h  Keeping image libraries from printing on stderr behind the command's back.
#pragma once

namespace quorlen::hosting {

/// While alive, the process's standard error goes to /dev/null. Some image libraries (libpng) print their own
/// line before reporting the failure, which the command then words as its one line; the library's text
/// still reaches that line through the reader's error message. Scopes may overlap across threads; standard
/// error comes back when the last one ends.
class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;
};

}  // namespace quorlen::hosting
