/// \file quiet_stderr.cpp  Standard error redirected to /dev/null for a scope.
#include "hosting/system/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>

namespace quorlen::hosting {
namespace {

// The redirection is process-wide, so overlapping scopes on several threads share one: the first to enter
// saves the real descriptor and the last to leave puts it back.
std::mutex quiet_mutex;
int quiet_depth = 0;
int saved_stderr = -1;

}  // namespace

QuietStderr::QuietStderr() {
  const std::lock_guard lock(quiet_mutex);
  if (quiet_depth++ > 0) return;
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved_stderr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_stderr >= 0 && ::dup2(null, STDERR_FILENO) < 0) {
    ::close(saved_stderr);
    saved_stderr = -1;
  }
  ::close(null);
}

QuietStderr::~QuietStderr() {
  const std::lock_guard lock(quiet_mutex);
  if (--quiet_depth > 0 || saved_stderr < 0) return;
  std::fflush(stderr);
  ::dup2(saved_stderr, STDERR_FILENO);
  ::close(saved_stderr);
  saved_stderr = -1;
}

}  // namespace quorlen::hosting
