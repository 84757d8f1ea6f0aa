// A frame streamed in bands gives the same file whatever the band height, thread count and number of bands
// in flight, for scanline, tiled, offset and reordered inputs; a failure mid-frame stops the stream cleanly.
#include "hosting/frames/frame_pipeline.h"

#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/node.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "DDImageHost/KnobAccess.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::read_image;
using quorlen::hosting_test::TempDir;

constexpr int kWidth = 37, kHeight = 53;

std::vector<float> random_values(std::size_t count, unsigned seed, float lo, float hi) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(lo, hi);
  std::vector<float> v(count);
  for (float& x : v) x = u(rng);
  return v;
}

// Writes a float image: the window (x, y, w, h) inside a kWidth x kHeight frame, tiled when `tile` > 0.
void write_pass(const std::string& path, const std::vector<std::string>& channels, int x, int y, int w, int h,
                int tile, const char* compression, unsigned seed) {
  OIIO::ImageSpec spec(w, h, static_cast<int>(channels.size()), OIIO::TypeFloat);
  spec.channelnames = channels;
  spec.x = x;
  spec.y = y;
  spec.full_width = kWidth;
  spec.full_height = kHeight;
  spec.tile_width = spec.tile_height = tile;
  spec.attribute("compression", compression);
  const auto values = random_values(spec.image_pixels() * channels.size(), seed, -1.0f, 1.0f);
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out && out->open(path, spec)) << OIIO::geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeFloat, values.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

class Streaming : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& description = load_module(QUORLEN_TEST_PLUGIN);
    node_ = std::make_unique<Node>(description);
    std::string error;
    for (const auto& [knob, value] : {std::pair{"lightType", "point"},
                                      {"_pointLightPos", "0.5,0.5,3"},
                                      {"surfaceNoise", "on"},
                                      {"surfaceNoiseType", "turbulence1"}})
      ASSERT_TRUE(DD::Image::set_knob(node_->op(), knob, value, error)) << error;
    // Colour: zip scanlines in blocks of 16 lines, read straight into the band.
    write_pass(dir_ / "color.exr", {"R", "G", "B"}, 0, 0, kWidth, kHeight, 0, "zip", 1);
    // Normal: components stored z, y, x beside another layer, so they are picked and reordered.
    write_pass(dir_ / "normal.exr", {"N.Z", "N.Y", "N.X", "depth.Z"}, 0, 0, kWidth, kHeight, 0, "piz", 2);
    // Position: 16x16 tiles over a smaller, offset window (zero elsewhere).
    write_pass(dir_ / "P.exr", {"R", "G", "B"}, 3, 5, 30, 40, 16, "zip", 3);
    // Noise position: uncompressed scanlines reaching past the frame's left edge.
    write_pass(dir_ / "noiseP.exr", {"R", "G", "B"}, -4, 0, kWidth + 4, kHeight, 0, "none", 4);
  }

  FrameSources sources() const {
    FrameSources s;
    s.inputs[kColor] = InputSpec{dir_ / "color.exr", std::nullopt};
    s.inputs[kNormal] = InputSpec{dir_ / "normal.exr", std::string("N")};
    s.inputs[kPosition] = InputSpec{dir_ / "P.exr", std::nullopt};
    s.inputs[kNoisePosition] = InputSpec{dir_ / "noiseP.exr", std::nullopt};
    return s;
  }

  // Streams the frame into `name` and returns its pixels.
  std::vector<float> stream(const std::string& name, const StreamOptions& options) {
    std::vector<std::string> warnings;
    FrameInputs inputs(sources(), warnings);
    ImageWriter writer(plan_output(dir_ / name), inputs.geometry());
    int lines = 0;
    const StageTimes times = stream_frame(inputs, node_->op(), writer, options, [&](int n) { lines += n; });
    writer.commit();
    EXPECT_EQ(lines, kHeight);
    EXPECT_EQ(times.pixels, static_cast<long long>(kWidth) * kHeight);
    return read_image(dir_ / name).pixels;
  }

  TempDir dir_;
  std::unique_ptr<Node> node_;
};

TEST_F(Streaming, BandsThreadsAndOverlapDoNotChangeABit) {
  const auto whole = stream("whole.exr", {1, kHeight, 1});
  ASSERT_EQ(whole.size(), static_cast<std::size_t>(kWidth) * kHeight * 4);
  // The offset position input leaves the frame's edges at zero position, so the lit pixels differ there.
  const StreamOptions variants[] = {{1, 1, 1}, {2, 1, 3}, {0, 7, 3}, {2, 16, 2}, {0, 0, 3}, {2, 100, 3}};
  for (const auto& v : variants) {
    SCOPED_TRACE(testing::Message() << "threads " << v.threads << ", band " << v.band_lines << ", in flight "
                                    << v.bands_in_flight);
    const auto pixels = stream("variant.exr", v);
    ASSERT_EQ(pixels.size(), whole.size());
    EXPECT_EQ(std::memcmp(pixels.data(), whole.data(), whole.size() * sizeof(float)), 0);
  }
}

TEST_F(Streaming, ADamagedInputStopsTheFrameWithItsErrorAndNothingIsWritten) {
  // Cut the colour file short: its header and first blocks are intact, so the damage shows mid-frame.
  const std::string color = dir_ / "color.exr";
  std::filesystem::resize_file(color, std::filesystem::file_size(color) * 2 / 3);
  const std::string target = dir_ / "out.exr";
  try {
    std::vector<std::string> warnings;
    FrameInputs inputs(sources(), warnings);
    ImageWriter writer(plan_output(target), inputs.geometry());
    int lines = 0;
    stream_frame(inputs, node_->op(), writer, {2, 16, 3}, [&](int n) { lines += n; });
    FAIL() << "a damaged input was streamed without an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::input);
    EXPECT_NE(std::string(e.what()).find("color.exr"), std::string::npos) << e.what();
  }
  EXPECT_EQ(dir_.files(), (std::vector<std::string>{"P.exr", "color.exr", "noiseP.exr", "normal.exr"}));
}

TEST_F(Streaming, AStopRequestedWhileRenderingEndsTheStream) {
  std::vector<std::string> warnings;
  FrameInputs inputs(sources(), warnings);
  ImageWriter writer(plan_output(dir_ / "out.exr"), inputs.geometry());
  int bands = 0;
  EXPECT_THROW(stream_frame(inputs, node_->op(), writer, {2, 8, 3},
                            [&](int) {
                              if (++bands == 2) throw interrupted_error("interrupted");
                            }),
               Error);
  EXPECT_EQ(bands, 2);
}

}  // namespace
