// A render job in-process: what its observer hears frame by frame, frames skipped when their output exists,
// and a stop mid-frame that keeps the finished frames and leaves nothing half-written.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>
#include <quorlen/module.h>
#include <quorlen/render.h>

#include <filesystem>
#include <sstream>
#include <tuple>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::constant_layer;
using quorlen::hosting_test::TempDir;
using Calls = std::vector<std::tuple<int, int, int>>;  // frame, index, count

class RenderJob : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tall enough that a frame reports progress more than once.
    quorlen::hosting_test::write_image(dir_ / "passes.exr", 8, 300,
                                       {constant_layer({"R", "G", "B"}, {0.5f, 0.25f, 1}, 8, 300),
                                        constant_layer({"N.X", "N.Y", "N.Z"}, {0, 0, 1}, 8, 300)});
    request_.passes = dir_ / "passes.exr";
    request_.frames = parse_frame_list("1-3");
  }

  // Runs the request with an observer that records every call; `on_progress` may throw to stop.
  void run(const std::string& output, const std::function<void(int frame)>& on_progress = {}) {
    request_.output = dir_ / output;
    started_.clear(), finished_.clear(), skipped_.clear();
    int current = 0;
    RenderObserver observer;
    observer.frame_started = [&](int f, int i, int n) {
      started_.emplace_back(f, i, n);
      current = f;
      last_progress_ = 0;
    };
    observer.frame_progress = [&](double fraction) {
      EXPECT_GT(fraction, last_progress_) << "frame " << current;
      last_progress_ = fraction;
      if (on_progress) on_progress(current);
    };
    observer.frame_finished = [&](int f, int i, int n, double seconds) {
      EXPECT_EQ(last_progress_, 1.0) << "frame " << f << " finished before all its lines";
      EXPECT_GE(seconds, 0.0);
      finished_.emplace_back(f, i, n);
    };
    observer.frame_skipped = [&](int f, int i, int n) { skipped_.emplace_back(f, i, n); };
    std::ostringstream out;
    run_render(request_, load_module(QUORLEN_TEST_PLUGIN), out, observer);
  }

  TempDir dir_;
  RenderRequest request_;
  Calls started_, finished_, skipped_;
  double last_progress_ = 0;
};

TEST_F(RenderJob, TheObserverHearsEveryFrameAndSkippedFramesAreLeftAlone) {
  run("out.%04d.exr");
  EXPECT_EQ(started_, (Calls{{1, 0, 3}, {2, 1, 3}, {3, 2, 3}}));
  EXPECT_EQ(finished_, started_);
  EXPECT_TRUE(skipped_.empty());
  EXPECT_EQ(dir_.files(),
            (std::vector<std::string>{"out.0001.exr", "out.0002.exr", "out.0003.exr", "passes.exr"}));

  // Frame 2 lost: only it is rendered again; the others are reported as skipped and not touched.
  std::filesystem::remove(dir_ / "out.0002.exr");
  const auto kept = std::filesystem::last_write_time(dir_ / "out.0001.exr");
  request_.skip_existing = true;
  run("out.%04d.exr");
  EXPECT_EQ(started_, (Calls{{2, 1, 3}}));
  EXPECT_EQ(finished_, started_);
  EXPECT_EQ(skipped_, (Calls{{1, 0, 3}, {3, 2, 3}}));
  EXPECT_EQ(std::filesystem::last_write_time(dir_ / "out.0001.exr"), kept);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out.0002.exr"));
}

TEST_F(RenderJob, AStopMidFrameKeepsTheFinishedFramesAndNothingElse) {
  try {
    run("stop.%04d.exr", [](int frame) {
      if (frame == 2) throw interrupted_error("interrupted");
    });
    FAIL() << "the stop was not passed on";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::interrupted);
  }
  EXPECT_EQ(finished_, (Calls{{1, 0, 3}}));
  EXPECT_EQ(dir_.files(), (std::vector<std::string>{"passes.exr", "stop.0001.exr"}));
}

}  // namespace
