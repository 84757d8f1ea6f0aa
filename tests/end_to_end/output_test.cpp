// What `quorlen render` writes: float EXR and TIFF with the colour input's windows, sRGB 8-bit previews,
// and frame sequences.
#include <gtest/gtest.h>

#include <cmath>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

// Point light 50 away straight ahead, falloff 1: every pixel's output is half its colour.
const std::vector<std::string> kHalf = {"--set", "lightType=point",    "--set", "_pointLightPos=0,0,-50",
                                        "--set", "pointLightFalloff=1"};

TEST(Output, ExrIsFloatRGBALosslessWithTheColourInputsWindows) {
  TempDir dir;
  const std::string color = dir / "c.exr", normal = dir / "n.exr", out = dir / "out.exr";
  write_image(color, 3, 2, {constant_layer({"R", "G", "B"}, {0.3f, 0.6f, 0.9f}, 3, 2)}, 2, 1, 8, 6);
  write_image(normal, 3, 2, {constant_layer({"N.X", "N.Y", "N.Z"}, {0, 0, 1}, 3, 2)}, 2, 1, 8, 6);
  std::vector<std::string> args = {"render", "--color", color, "--normal", normal + ":N", "-o", out};
  args.insert(args.end(), kHalf.begin(), kHalf.end());
  const RunResult r = run_quorlen(args, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  EXPECT_EQ(image.spec.format, OIIO::TypeFloat);
  EXPECT_EQ(image.spec.channelnames, (std::vector<std::string>{"R", "G", "B", "A"}));
  EXPECT_EQ(image.spec.get_string_attribute("compression"), "zip");
  EXPECT_EQ(image.spec.x, 2);
  EXPECT_EQ(image.spec.y, 1);
  EXPECT_EQ(image.spec.width, 3);
  EXPECT_EQ(image.spec.height, 2);
  EXPECT_EQ(image.spec.full_width, 8);
  EXPECT_EQ(image.spec.full_height, 6);
  EXPECT_FLOAT_EQ(image.at(4, 2, 0), 0.15f);
  EXPECT_FLOAT_EQ(image.at(4, 2, 1), 0.3f);
  EXPECT_FLOAT_EQ(image.at(4, 2, 2), 0.45f);
  EXPECT_EQ(image.at(4, 2, 3), 0.0f);
}

TEST(Output, TiffIsFloatRGBAToo) {
  TempDir dir;
  const std::string normal = dir / "n.exr", out = dir / "out.tif";
  write_image(normal, 2, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 2, 2)});
  const RunResult r =
      run_quorlen({"render", "--normal", normal, "-o", out, "--set", "outputType=light"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const ReadImage image = read_image(out);
  EXPECT_EQ(image.spec.format, OIIO::TypeFloat);
  EXPECT_EQ(image.spec.nchannels, 4);
  EXPECT_NEAR(image.at(1, 1, 0), 1.0f / std::sqrt(3.0f), 1e-6f);
}

TEST(Output, EightBitPreviewsAreRGBWithTheSrgbTransfer) {
  TempDir dir;
  const std::string color = dir / "c.exr", normal = dir / "n.exr";
  // Linear results 0.5, 0.18, -0.5 and 2 after the halving light.
  write_image(color, 4, 1,
              {pixels_layer({"R", "G", "B"}, {{1, 1, 1}, {0.36f, 0.36f, 0.36f}, {-1, -1, -1}, {4, 4, 4}})});
  write_image(normal, 4, 1, {constant_layer({"R", "G", "B"}, {0, 0, 1}, 4, 1)});
  for (const char* name : {"out.png", "out.tga", "out.bmp"}) {
    const std::string out = dir / name;
    std::vector<std::string> args = {"render", "--color", color, "--normal", normal, "-o", out};
    args.insert(args.end(), kHalf.begin(), kHalf.end());
    const RunResult r = run_quorlen(args, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    OIIO::ImageSpec spec;
    const auto bytes = read_bytes(out, spec);
    ASSERT_EQ(spec.nchannels, 3) << name << ": no alpha, which would hide the picture";
    const int expected[] = {188, 118, 0, 255};
    for (int x = 0; x < 4; ++x)
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(bytes[static_cast<std::size_t>(x * 3 + k)], expected[x]) << name << " pixel " << x;
  }
}

TEST(Output, SequencesSubstituteTheFrameInEveryPath) {
  TempDir dir;
  // Frame f's normal faces the light for odd f and away for even f; the colour is f / 10.
  for (int f = 1; f <= 5; ++f) {
    write_image(dir / ("n." + std::string(f < 10 ? "000" : "00") + std::to_string(f) + ".exr"), 1, 1,
                {constant_layer({"R", "G", "B"}, {0, 0, f % 2 ? -1.0f : 1.0f}, 1, 1)});
    write_image(dir / ("c_" + std::to_string(f) + ".exr"), 1, 1,
                {constant_layer({"R", "G", "B"}, {f / 10.0f, 0, 0}, 1, 1)});
  }
  RunResult r = run_quorlen({"render", "--normal", dir / "n.####.exr", "--color", dir / "c_%d.exr", "-o",
                             dir / "out.%04d.exr", "--frames", "1-5x2", "--no-progress"},
                            dir);
  ASSERT_EQ(r.code, 0) << r.err;
  for (int f : {1, 3, 5}) {
    const ReadImage image = read_image(dir / ("out.000" + std::to_string(f) + ".exr"));
    EXPECT_NEAR(image.at(0, 0, 0), f / 10.0f / std::sqrt(3.0f), 1e-6f) << f;
  }
  EXPECT_FALSE(fs::exists(dir / "out.0002.exr"));

  // Frame 2 faces away: black.
  r = run_quorlen({"render", "--normal", dir / "n.####.exr", "--color", dir / "c_#.exr", "-o",
                   dir / "seq_#.exr", "--frames", "2-3"},
                  dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_image(dir / "seq_2.exr").at(0, 0, 0), 0.0f);
  EXPECT_NEAR(read_image(dir / "seq_3.exr").at(0, 0, 0), 0.3f / std::sqrt(3.0f), 1e-6f);
}

TEST(Output, StatsReportEachStageAndThroughput) {
  TempDir dir;
  const std::string normal = dir / "n.exr", out = dir / "o.exr";
  write_image(normal, 8, 8, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 8, 8)});
  const RunResult r =
      run_quorlen({"render", "--normal", normal, "-o", out, "--stats", "--threads", "1"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* part :
       {"stats: 1 frame, 0.000 megapixels", "  read ", "  render ", "  write ", "  total ", "MP/s"})
    EXPECT_TRUE(contains(r.out, part)) << part << "\n" << r.out;
}

}  // namespace
