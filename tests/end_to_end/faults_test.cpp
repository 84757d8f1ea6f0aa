// Faults from outside the tool during a sequence: a full disk, an interrupt, an output directory it may not
// write. Frames finished before the fault stay whole; the frame in progress leaves nothing; the exit code
// says what happened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <random>
#include <thread>

#include "support/HostingTestSupport.h"
#include "support/ProcessSupport.h"

namespace {

using namespace quorlen::hosting_test;

std::vector<std::string> temp_files(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& name : dir.files())
    if (contains(name, "quorlen-tmp")) out.push_back(name);
  return out;
}

std::string fmt_frame(int frame) {
  std::string digits = std::to_string(frame);
  return "out." + std::string(4 - digits.size(), '0') + digits + ".exr";
}

// Random normals, which compress badly, so the output's size follows the input's.
void write_random_normals(const std::string& path, int size, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  Layer layer{{"R", "G", "B"}, {}};
  for (int i = 0; i < size * size * 3; ++i) layer.pixels.push_back(u(rng));
  write_image(path, size, size, {layer});
}

TEST(Faults, AFullDiskFailsTheFrameThatDoesNotFitAndKeepsTheOnesBefore) {
  TempDir dir, scratch, reference;
  // Frames 1 and 2 are small; frame 3 is far larger than the file size limit.
  write_random_normals(dir / "n.1.exr", 8, 1);
  write_random_normals(dir / "n.2.exr", 8, 2);
  write_random_normals(dir / "n.3.exr", 256, 3);
  // The random colour makes the output as incompressible as the input.
  const std::vector<std::string> args{"render",        "--color",      dir / "n.#.exr",   "--normal",
                                      dir / "n.#.exr", "-o",           dir / "out.#.exr", "--frames",
                                      "1-3",           "--no-progress"};
  Child child(args, scratch, ChildOptions{64 * 1024});
  const RunResult r = child.wait();
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_TRUE(contains(r.err, "quorlen: error: cannot write \"" + dir / "out.3.exr\"")) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.3.exr"));
  EXPECT_EQ(temp_files(dir), std::vector<std::string>{});

  // The frames kept are whole: the pixels an unlimited run writes. The unlimited run also shows the limit
  // was what failed frame 3.
  const RunResult full = run_quorlen({"render", "--color", dir / "n.#.exr", "--normal", dir / "n.#.exr", "-o",
                                      reference / "out.#.exr", "--frames", "1-3"},
                                     scratch);
  ASSERT_EQ(full.code, 0) << full.err;
  EXPECT_GT(fs::file_size(reference / "out.3.exr"), 64u * 1024u);
  for (const char* name : {"out.1.exr", "out.2.exr"}) {
    ASSERT_TRUE(fs::exists(dir / name)) << name;
    const ReadImage kept = read_image(dir / name);
    const ReadImage whole = read_image(reference / name);
    EXPECT_EQ(kept.spec.width, 8) << name;
    EXPECT_EQ(kept.pixels, whole.pixels) << name;
  }
}

TEST(Faults, AnInterruptKeepsFinishedFramesRemovesTheUnfinishedOneAndExits130) {
  TempDir dir, scratch;
  write_random_normals(dir / "n.exr", 96, 4);
  constexpr int kFrames = 400;  // far more than can finish between the first frame and the signal
  for (const int sig : {SIGINT, SIGTERM}) {
    for (const auto& name : dir.files())
      if (name != "n.exr") fs::remove(dir / name);
    Child child({"render", "--normal", dir / "n.exr", "-o", dir / "out.####.exr", "--frames",
                 "1-" + std::to_string(kFrames), "--set", "surfaceNoise=on", "--set",
                 "surfaceNoiseType=turbulence2", "--no-progress"},
                scratch);
    // The signal goes once the first frame is in place, so the handlers are installed and work is under way.
    bool first = false;
    for (int i = 0; i < 60000 && !first; ++i) {
      first = fs::exists(dir / "out.0001.exr");
      if (!first) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(first) << "the first frame never appeared";
    child.signal(sig);
    const RunResult r = child.wait();
    EXPECT_EQ(r.code, 130) << "signal " << sig << "\n" << r.err;
    EXPECT_EQ(r.err, "quorlen: error: interrupted; unfinished output removed\n") << "signal " << sig;
    EXPECT_EQ(temp_files(dir), std::vector<std::string>{}) << "signal " << sig;
    // Every frame written is whole and readable; the sequence stopped early and without gaps.
    int kept = 0;
    for (int f = 1; f <= kFrames; ++f) {
      const std::string name = dir / fmt_frame(f);
      if (!fs::exists(name)) break;
      ++kept;
      const ReadImage image = read_image(name);
      EXPECT_EQ(image.spec.width, 96) << name;
    }
    EXPECT_GE(kept, 1);
    EXPECT_LT(kept, kFrames) << "signal " << sig << " arrived after the sequence had finished";
    EXPECT_EQ(static_cast<int>(dir.files().size()), kept + 1) << "signal " << sig;
  }
}

TEST(Faults, AnOutputDirectoryWithoutWritePermissionIsRefusedBeforeReading) {
  TempDir dir, scratch;
  write_image(dir / "n.exr", 2, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
  fs::create_directory(dir / "locked");
  // Readable by the unprivileged user the child may run as; the output directory is not writable.
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
  fs::permissions(scratch.path(), fs::perms::all);
  if (const std::string problem = unprivileged_run_problem(scratch); !problem.empty()) {
    fs::permissions(dir / "locked", fs::perms::owner_all);
    GTEST_SKIP() << problem;
  }
  Child child({"render", "--normal", dir / "n.exr", "-o", dir / "locked/out.exr"}, scratch,
              ChildOptions{-1, true});
  const RunResult r = child.wait();
  fs::permissions(dir / "locked", fs::perms::owner_all);
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(r.err, "quorlen: error: cannot write \"" + dir / "locked/out.exr" + "\": directory \"" +
                       dir / "locked" + "\": Permission denied\n");
  EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

}  // namespace
