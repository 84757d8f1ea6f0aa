// Frames as pipelines and farms run them: lists of frames and ranges, resuming with --skip-existing, one
// progress line per frame in a log, and --verbose.
#include <gtest/gtest.h>

#include <fstream>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

std::vector<std::string> outputs(const TempDir& dir) {
  std::vector<std::string> out;
  for (const auto& name : dir.files())
    if (name.rfind("out.", 0) == 0) out.push_back(name);
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class Sequences : public ::testing::Test {
 protected:
  void SetUp() override {
    write_image(dir / "n.exr", 2, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
  }
  std::vector<std::string> render(const std::string& frames, std::vector<std::string> extra = {}) {
    // Light output: without a colour input, texture output would add a warning to every stderr checked.
    std::vector<std::string> args{
        "render", "--normal", dir / "n.exr",     "-o", dir / "out.####.exr", "--frames",
        frames,   "--set",    "outputType=light"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  TempDir dir;
  TempDir scratch;
};

TEST_F(Sequences, AListRendersEachFrameItNamesOnceInItsOrderWithALogLineEach) {
  const RunResult r = run_quorlen(render("20-24x2,1,3,5-6,3"), scratch);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(outputs(dir),
            (std::vector<std::string>{"out.0001.exr", "out.0003.exr", "out.0005.exr", "out.0006.exr",
                                      "out.0020.exr", "out.0022.exr", "out.0024.exr"}));
  // stderr is a file here, as in a farm's log: one line per finished frame, in the order rendered.
  EXPECT_EQ(lines_of(r.err), (std::vector<std::string>{
                                 "quorlen: frame 20 done, 1/7 (14%)",
                                 "quorlen: frame 22 done, 2/7 (28%)",
                                 "quorlen: frame 24 done, 3/7 (42%)",
                                 "quorlen: frame 1 done, 4/7 (57%)",
                                 "quorlen: frame 3 done, 5/7 (71%)",
                                 "quorlen: frame 5 done, 6/7 (85%)",
                                 "quorlen: frame 6 done, 7/7 (100%)",
                             }));
  EXPECT_EQ(r.out, "");

  const RunResult quiet = run_quorlen(render("30-31", {"--no-progress"}), scratch);
  ASSERT_EQ(quiet.code, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  // A single render has no frame to report.
  const RunResult single = run_quorlen(
      {"render", "--normal", dir / "n.exr", "-o", dir / "single.exr", "--set", "outputType=light"}, scratch);
  ASSERT_EQ(single.code, 0) << single.err;
  EXPECT_EQ(single.err, "");
}

TEST_F(Sequences, SkipExistingResumesAStoppedTaskWithoutTouchingFinishedFrames) {
  // Frames 1 and 2 finished before the task died; frame 2's inputs are gone since (cleaned up by the
  // pipeline), which must not matter because it is not rendered again.
  write_image(dir / "m.1.exr", 2, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
  for (int f : {3, 4})
    write_image(dir / ("m." + std::to_string(f) + ".exr"), 2, 2,
                {constant_layer({"R", "G", "B"}, {0, 1, 0}, 2, 2)});
  std::ofstream(dir / "out.0001.exr") << "finished frame 1";
  std::ofstream(dir / "out.0002.exr") << "finished frame 2";
  const std::vector<std::string> args{
      "render",   "--normal", dir / "m.#.exr",   "-o",    dir / "out.####.exr",
      "--frames", "1-4",      "--skip-existing", "--set", "outputType=light"};
  RunResult r = run_quorlen(args, scratch);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(slurp(dir / "out.0001.exr"), "finished frame 1");
  EXPECT_EQ(slurp(dir / "out.0002.exr"), "finished frame 2");
  EXPECT_EQ(read_image(dir / "out.0003.exr").spec.width, 2);
  EXPECT_EQ(read_image(dir / "out.0004.exr").spec.width, 2);
  EXPECT_EQ(lines_of(r.err), (std::vector<std::string>{
                                 "quorlen: frame 1 skipped, output exists, 1/4 (25%)",
                                 "quorlen: frame 2 skipped, output exists, 2/4 (50%)",
                                 "quorlen: frame 3 done, 3/4 (75%)",
                                 "quorlen: frame 4 done, 4/4 (100%)",
                             }));

  // Without the option every frame is rendered again, and the missing input of frame 2 is an error.
  r = run_quorlen({"render", "--normal", dir / "m.#.exr", "-o", dir / "out.####.exr", "--frames", "1-4"},
                  scratch);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(contains(r.err, "no such file: \"" + dir / "m.2.exr\"")) << r.err;
  EXPECT_NE(slurp(dir / "out.0001.exr"), "finished frame 1");

  // A dry run reports the one frame it would render and sums up the ones it would skip.
  fs::remove(dir / "out.0004.exr");
  r = run_quorlen({"render", "--normal", dir / "m.#.exr", "-o", dir / "out.####.exr", "--frames", "1-4",
                   "--skip-existing", "--dry-run"},
                  scratch);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto lines = lines_of(r.out);
  EXPECT_EQ(lines.front(), "frame 4");
  EXPECT_EQ(lines.back(), "frames  1-4 (4 frames, 1 to render, 3 skipped as their output exists: 1-3)")
      << r.out;
}

TEST_F(Sequences, VerboseNamesTheModulesTheInputsAndTheTimeOfEachFrame) {
  const RunResult r = run_quorlen(render("7", {"-v"}), scratch);
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string module = (fs::path(QUORLEN_TEST_BUILD_PLUGIN_DIR) / "Quorlen.so").string();
  const auto lines = lines_of(r.err);
  ASSERT_EQ(lines.size(), 6u) << r.err;
  EXPECT_TRUE(contains(lines[0], "quorlen: host layer ")) << lines[0];
  EXPECT_TRUE(contains(lines[0], "libddimage")) << lines[0];
  EXPECT_EQ(lines[1].rfind(
                "quorlen: plug-in " + fs::weakly_canonical(module).string() + " (built for host layer ", 0),
            0u)
      << lines[1];
  EXPECT_EQ(lines[2], "quorlen: frame 7: normal  " + dir / "n.exr (R, G, B)");
  EXPECT_EQ(lines[3], "quorlen: frame 7: output  " + dir / "out.0007.exr");
  EXPECT_TRUE(contains(lines[4], "quorlen: frame 7: rendered in ")) << lines[4];
  EXPECT_EQ(lines[5], "quorlen: frame 7 done, 1/1 (100%)");
}

TEST_F(Sequences, AnimatedSettingsGiveEachFrameWhatSetWouldAndSetStillOverrides) {
  write_image(
      dir / "passes.exr", 3, 2,
      {constant_layer({"R", "G", "B"}, {1, 0.5f, 0.25f}, 3, 2),
       pixels_layer({"N.X", "N.Y", "N.Z"},
                    {{0, 0, -1}, {0.6f, 0, -0.8f}, {0, 1, 0}, {0, 0, -1}, {-1, 0, 0}, {0, 0.6f, -0.8f}}),
       constant_layer({"P.X", "P.Y", "P.Z"}, {0.5f, 0.25f, 2}, 3, 2)});
  std::ofstream(dir / "anim.json") << R"({
    "lightBrightness": {"keys": {"1": 0.5, "3": 1.5}},
    "lightType": {"keys": {"1": "parallel", "2": "point"}},
    "_pointLightPos": {"keys": {"1": [0, 0, -1], "3": [1, 0, -1]}, "interpolation": "linear"}})";
  const auto run = [&](const std::string& out, const std::string& frames, std::vector<std::string> extra) {
    std::vector<std::string> args{"render",   "--passes", dir / "passes.exr", "-o", dir / out,
                                  "--frames", frames,     "--no-progress"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = run_quorlen(args, scratch);
    EXPECT_EQ(r.code, 0) << r.err;
  };
  run("anim.#.exr", "1-3", {"--settings", dir / "anim.json"});
  run("set.1.exr", "1", {"--set", "lightBrightness=0.5", "lightType=parallel", "_pointLightPos=0,0,-1"});
  run("set.2.exr", "2", {"--set", "lightBrightness=1", "lightType=point", "_pointLightPos=0.5,0,-1"});
  run("set.3.exr", "3", {"--set", "lightBrightness=1.5", "lightType=point", "_pointLightPos=1,0,-1"});
  for (const char* f : {"1", "2", "3"})
    EXPECT_EQ(read_image(dir / ("anim." + std::string(f) + ".exr")).pixels,
              read_image(dir / ("set." + std::string(f) + ".exr")).pixels)
        << "frame " << f;
  EXPECT_NE(read_image(dir / "anim.1.exr").pixels, read_image(dir / "anim.3.exr").pixels);

  // --set after --settings holds for every frame.
  run("over.#.exr", "1-3",
      {"--settings", dir / "anim.json", "--set", "lightBrightness=1", "lightType=point"});
  run("same.#.exr", "2", {"--set", "lightBrightness=1", "lightType=point", "_pointLightPos=0.5,0,-1"});
  EXPECT_EQ(read_image(dir / "over.2.exr").pixels, read_image(dir / "same.2.exr").pixels);

  // The panel at a frame shows the same values.
  const RunResult knobs = run_quorlen({"knobs", "--settings", dir / "anim.json", "--frame", "2"}, scratch);
  ASSERT_EQ(knobs.code, 0) << knobs.err;
  EXPECT_TRUE(contains(knobs.out, " 0.5,0,-1 ")) << knobs.out;
  for (const auto& line : lines_of(knobs.out)) {
    if (contains(line, " lightType ")) {
      EXPECT_TRUE(contains(line, " point ")) << line;
    }
  }
}

TEST_F(Sequences, AFrameWhoseOutputIsADirectoryStopsBeforeItsInputsAreRead) {
  write_image(dir / "m.1.exr", 2, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
  fs::create_directory(dir / "out.2.exr");  // and m.2.exr does not exist
  const RunResult r = run_quorlen(
      {"render", "--normal", dir / "m.#.exr", "-o", dir / "out.#.exr", "--frames", "1-2"}, scratch);
  EXPECT_EQ(r.code, 3) << r.err;
  EXPECT_EQ(lines_of(r.err), (std::vector<std::string>{"quorlen: frame 1 done, 1/2 (50%)",
                                                       "quorlen: error: cannot write \"" + dir / "out.2.exr" +
                                                           "\": it is a directory"}));
  EXPECT_TRUE(fs::exists(dir / "out.1.exr"));
}

}  // namespace
