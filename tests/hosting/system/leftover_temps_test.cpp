// Temporary outputs of killed renders: removed only when their writer ran on this machine and is gone.
#include "hosting/system/leftover_temps.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "hosting/system/atomic_file.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::TempDir;

// The temporary name a child process would have used, taken once the child has exited and been reaped, so
// its pid names no live process (pids are not reused this quickly).
std::string name_of_a_finished_process(const std::string& target) {
  int pipe_fds[2];
  EXPECT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string name = temporary_name_for(target, 0);
    (void)!::write(pipe_fds[1], name.data(), name.size());
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string name;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) name.append(buffer, std::size_t(n));
  ::close(pipe_fds[0]);
  ::waitpid(child, nullptr, 0);
  return name;
}

void touch(const std::string& path) { std::ofstream(path) << "partial"; }

TEST(LeftoverTemporaries, OnlyThoseOfGoneWritersOnThisMachineForTheRunsTargets) {
  TempDir dir;
  const std::string target = (dir.path() / "relit.1001.exr").string();
  const std::string other_target = (dir.path() / "other.1001.exr").string();
  const std::string dead = name_of_a_finished_process(target);
  const std::string dead_other_target = name_of_a_finished_process(other_target);
  const std::string alive = temporary_name_for(target, 7);  // this process
  std::string foreign = dead;                               // the same name written on another machine
  const std::size_t tag = foreign.find(".quorlen-tmp-") + 13;
  foreign.replace(tag, foreign.find('-', tag) - tag, "render_node_17");
  for (const auto& p : {dead, dead_other_target, alive, foreign, target}) touch(p);
  ASSERT_NE(dead, alive);

  const auto removed = remove_leftover_temporaries({target, (dir.path() / "relit.1002.exr").string()});
  EXPECT_EQ(removed, (std::vector<std::string>{dead}));
  EXPECT_FALSE(std::filesystem::exists(dead));
  for (const auto& kept : {dead_other_target, alive, foreign, target})
    EXPECT_TRUE(std::filesystem::exists(kept)) << kept;
}

TEST(LeftoverTemporaries, NamesKeepTheExtensionAndStayHidden) {
  const std::string name = temporary_name_for("/shots/a b/relit.0001.exr", 3);
  EXPECT_EQ(name.rfind("/shots/a b/.relit.0001.quorlen-tmp-", 0), 0u) << name;
  EXPECT_TRUE(name.ends_with(fmt::format("-{}-3.exr", ::getpid()))) << name;
  // Files that only look alike are left alone: no writer part, or not hidden.
  TempDir dir;
  const std::string target = (dir.path() / "r.exr").string();
  for (const auto& n : {".r.quorlen-tmp-.exr", ".r.quorlen-tmp-x-y-z.exr", "r.quorlen-tmp-h-1-0.exr"})
    touch((dir.path() / n).string());
  EXPECT_TRUE(remove_leftover_temporaries({target}).empty());
  EXPECT_TRUE(remove_leftover_temporaries({(dir.path() / "missing" / "r.exr").string()}).empty());
}

}  // namespace
