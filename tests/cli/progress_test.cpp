// The progress bar's text, the time-left estimate and the log lines farm managers read.
#include "cli/progress.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using quorlen::cli::Progress;

TEST(ProgressText, BarShowsTheShareDoneTheFrameAndTheTimeLeft) {
  EXPECT_EQ(Progress::bar(0.3, 1003, 1, 4), "[#########.....................]  30%  frame 1003 (2/4)");
  EXPECT_EQ(Progress::bar(0.5, 7, 0, 1, 65.4),
            "[###############...............]  50%  frame 7 (1/1)  1:05 left");
  EXPECT_EQ(Progress::bar(0.5, 7, 0, 1, 3 * 3600 + 62),
            "[###############...............]  50%  frame 7 (1/1)  3:01:02 left");
  EXPECT_EQ(Progress::bar(std::nan(""), 7, 0, 1, 0.4),
            "[..............................]   0%  frame 7 (1/1)  0:00 left");
}

TEST(ProgressText, TimeLeftFollowsTheRateOnceEnoughIsDone) {
  // 2 of 10 frames in 20 s: 8 left at 10 s each.
  EXPECT_DOUBLE_EQ(*Progress::time_left(20, 2, 8), 80);
  // Too early to tell: the first band's start-up cost would dominate.
  EXPECT_FALSE(Progress::time_left(0.5, 0.5, 8));
  EXPECT_FALSE(Progress::time_left(20, 0, 8));
  EXPECT_FALSE(Progress::time_left(20, 0.01, 8));
  EXPECT_FALSE(Progress::time_left(std::nan(""), 1, 8));
  EXPECT_DOUBLE_EQ(*Progress::time_left(5, 1, 0), 0);
}

TEST(ProgressText, LogLinesCountFramesDoneAndSkipped) {
  EXPECT_EQ(Progress::line(1003, 1, 4, false), "frame 1003 done, 2/4 (50%)");
  EXPECT_EQ(Progress::line(-2, 2, 3, true), "frame -2 skipped, output exists, 3/3 (100%)");
  EXPECT_EQ(Progress::line(5, 0, 3, false), "frame 5 done, 1/3 (33%)");
}

TEST(ProgressText, FarmPercentagesAreWholeAndReachAHundredOnlyAtTheEnd) {
  // 29 of 100 frames is 0.29, whose product with 100 falls just below 29 in binary.
  EXPECT_EQ(Progress::whole_percent(29.0 / 100), 29);
  EXPECT_EQ(Progress::whole_percent(1.0 / 3), 33);
  EXPECT_EQ(Progress::whole_percent(0.999), 99);
  EXPECT_EQ(Progress::whole_percent(1.0), 100);
  EXPECT_EQ(Progress::whole_percent(1.5), 100);
  EXPECT_EQ(Progress::whole_percent(-0.1), 0);
  EXPECT_EQ(Progress::whole_percent(std::nan("")), 0);
}

TEST(ProgressText, AutoIsABarOnATerminalAndLinesForALogOfAList) {
  using Style = Progress::Style;
  EXPECT_EQ(Progress::choose("auto", false, true, false), Style::bar);
  EXPECT_EQ(Progress::choose("auto", false, false, true), Style::lines);
  EXPECT_EQ(Progress::choose("auto", false, false, false), Style::none);
  EXPECT_EQ(Progress::choose("percent", false, true, false), Style::percent);
  EXPECT_EQ(Progress::choose("openjd", false, false, false), Style::openjd);
  EXPECT_EQ(Progress::choose("lines", false, true, false), Style::lines);
  // --no-progress and --dry-run win over any format.
  EXPECT_EQ(Progress::choose("percent", true, false, true), Style::none);
}

}  // namespace
