// Warnings of a render: settings that do nothing, missing inputs a setting needs, non-finite output and
// normals that look stored in 0..1. Each is said once per run, after the frames, and -q silences them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

int lines_of(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

struct Files {
  TempDir dir;
  std::string color = dir / "c.exr", normal = dir / "n.exr", out = dir / "out.exr";
  Files() {
    write_image(color, 2, 1, {pixels_layer({"R", "G", "B"}, {{1, 1, 1}, {1, 1, 1}})});
    write_image(normal, 2, 1, {pixels_layer({"R", "G", "B"}, {{0, 0, -1}, {0, 0, 1}})});
  }
  RunResult render(std::vector<std::string> extra) {
    std::vector<std::string> args{"render", "--normal", normal, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_quorlen(args, dir);
  }
};

TEST(Warnings, SettingsThatCannotDoWhatTheySeemAreSaidOnceAfterTheFrames) {
  Files f;
  struct Case {
    std::vector<std::string> extra;
    std::string warning;  // "" for none
  };
  const Case cases[] = {
      {{"--color", f.color, "--set", "_pointLightPos=1,2,3", "--set", "pointLightRadius=5"},
       "_pointLightPos=1,2,3, pointLightRadius=5 have no effect with these settings (the panel shows them "
       "unavailable; see 'quorlen knobs' with the same settings)"},
      {{"--color", f.color, "--set", "surfaceNoiseType=snoise"},
       "surfaceNoiseType=snoise has no effect with these settings (the panel shows it unavailable; see "
       "'quorlen knobs' with the same settings)"},
      // Set to their defaults, or available: nothing to say.
      {{"--color", f.color, "--set", "pointLightRadius=100", "--set", "lightType=parallel"}, ""},
      {{"--color", f.color, "--set", "surfaceNoise=on", "--set", "surfaceNoiseType=snoise"}, ""},
      {{"--set", "outputType=light", "--set", "lightType=point"},
       "the point light has no P input, so every pixel is lit as if it were at 0,0,0; give --P FILE[:LAYER] "
       "or --passes with a position layer"},
      {{"--color", f.color, "--P", f.color, "--set", "lightType=point"}, ""},
      {{},
       "outputType is texture but there is no colour input, so the output is black; give --color "
       "FILE[:LAYER] or --set outputType=light"},
      {{"--set", "outputType=light"}, ""},
  };
  for (const auto& c : cases) {
    RunResult r = f.render(c.extra);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, c.warning.empty() ? "" : "quorlen: warning: " + c.warning + "\n") << c.extra.back();
    auto quiet = c.extra;
    quiet.push_back("-q");
    r = f.render(quiet);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "") << c.extra.back();
  }
  // A sequence of three frames says it once; so does a dry run.
  RunResult r = run_quorlen({"render", "--normal", f.normal, "--frames", "1-3", "-o", f.dir / "seq.#.exr",
                             "--set", "pointLightFalloff=2", "--no-progress"},
                            f.dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(lines_of(r.err), 2) << r.err;  // the idle knob and the missing colour
  EXPECT_TRUE(contains(r.err, "quorlen: warning: pointLightFalloff=2 has no effect")) << r.err;
  r = f.render({"--dry-run", "--set", "pointLightFalloff=2", "--set", "outputType=light"});
  EXPECT_EQ(lines_of(r.err), 1) << r.err;
}

TEST(Warnings, NonFiniteOutputIsCountedOverTheRun) {
  Files f;
  const std::vector<std::string> infinite{
      "--color", f.color, "--set", "_surfaceSpecular=1,1,1", "--set", "surfaceSpecularPower=0"};
  RunResult r = f.render(infinite);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(f.out);
  int bad = 0;
  for (int x = 0; x < 2; ++x) bad += !std::isfinite(image.at(x, 0, 0));
  ASSERT_GT(bad, 0) << "the settings no longer make infinite pixels";
  EXPECT_EQ(r.err,
            "quorlen: warning: " + std::to_string(bad) +
                (bad == 1 ? " output pixel is" : " output pixels are") +
                " not finite (NaN or infinity); check the settings (such as surfaceSpecularPower below 1) "
                "and the passes\n");
  std::vector<std::string> frames{"render", "--normal",          f.normal,       "--frames", "4-6",
                                  "-o",     f.dir / "seq.#.exr", "--no-progress"};
  frames.insert(frames.end(), infinite.begin(), infinite.end());
  r = run_quorlen(frames, f.dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.err, std::to_string(3 * bad) + " output pixel")) << r.err;
  EXPECT_TRUE(contains(r.err, "in 3 frames, the first frame 4;")) << r.err;
  EXPECT_EQ(lines_of(r.err), 1) << r.err;
}

TEST(Warnings, NormalsThatLookStoredInZeroToOneSuggestTheUnsignedEncoding) {
  TempDir dir;
  const std::string flat = dir / "flat.exr", up = dir / "up.exr", out = dir / "out.exr";
  // A normal map's flat blue (0.5, 0.5, 1) and, signed, normals with no negative component but unit length.
  write_image(flat, 2, 1, {pixels_layer({"R", "G", "B"}, {{0.5f, 0.5f, 1.0f}, {0.7f, 0.5f, 0.9f}})});
  write_image(up, 2, 1, {pixels_layer({"R", "G", "B"}, {{0, 0, 1}, {0.6f, 0.8f, 0}})});
  RunResult r = run_quorlen({"render", "--normal", flat, "-o", out, "--set", "outputType=light"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err,
            "quorlen: warning: the normal input " + flat +
                " (R, G, B) has no negative component anywhere; if it stores normals as 0.5 n + 0.5 (0..1, "
                "as 8-bit normal maps do), give --normal-encoding unsigned\n");
  r = run_quorlen(
      {"render", "--normal", flat, "-o", out, "--set", "outputType=light", "--normal-encoding", "unsigned"},
      dir);
  EXPECT_EQ(r.err, "");
  r = run_quorlen({"render", "--normal", up, "-o", out, "--set", "outputType=light"}, dir);
  EXPECT_EQ(r.err, "");
}

}  // namespace

// A light on the wrong side of nearly every surface is said, with the likely cause when the normals are
// those of a z-up world read in the node's convention; a light that reaches the surface says nothing.
TEST(Warnings, ALightThatReachesAlmostNothingIsSaidWithTheLikelyCause) {
  TempDir dir;
  const int w = 20, h = 10;
  // A ground facing +z, a few pixels without a surface.
  std::vector<std::array<float, 3>> normals(static_cast<std::size_t>(w * h), std::array<float, 3>{0, 0, 1});
  for (int i = 0; i < 5; ++i) normals[static_cast<std::size_t>(i)] = {0, 0, 0};
  write_image(dir / "n.exr", w, h, {pixels_layer({"R", "G", "B"}, normals)});
  const auto render = [&](std::vector<std::string> extra) {
    std::vector<std::string> args{"render",
                                  "--normal",
                                  dir / "n.exr",
                                  "--set",
                                  "outputType=light",
                                  "--set",
                                  "_parallelLightDir=0,0.2,1",
                                  "-o",
                                  dir / "out.exr"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_quorlen(args, dir);
  };
  const RunResult wrong_side = render({});
  ASSERT_EQ(wrong_side.code, 0) << wrong_side.err;
  EXPECT_EQ(
      wrong_side.err,
      "quorlen: warning: the light reaches under 1% of the surface pixels; the normals look like a z-up "
      "world's: if the passes are in world space, give --light-space world\n");
  EXPECT_EQ(render({"--light-space", "world"}).err, "");
  EXPECT_EQ(render({"-q"}).err, "");
}
