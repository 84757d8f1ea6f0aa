// Quieting the standard error of libraries, from several threads at once.
#include "hosting/system/quiet_stderr.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace {

using quorlen::hosting::QuietStderr;

// Overlapping quiet scopes on several threads must hand the real standard error back at the end.
TEST(QuietStderrScopes, OverlappingScopesOnThreadsRestoreStandardError) {
  struct stat before {};
  ASSERT_EQ(fstat(STDERR_FILENO, &before), 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        const QuietStderr quiet;
        if ((i + t) % 7 == 0) std::this_thread::yield();
      }
    });
  for (auto& th : threads) th.join();
  struct stat after {};
  ASSERT_EQ(fstat(STDERR_FILENO, &after), 0);
  EXPECT_EQ(after.st_dev, before.st_dev);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

}  // namespace
