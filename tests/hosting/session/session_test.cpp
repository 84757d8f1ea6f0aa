// A session reads its inputs once and renders any region again after knob changes: the pixels must equal
// those of the command's streamed render of the same files, whether the inputs came from files or from
// memory the caller owns.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/session.h>

#include <cstring>
#include <random>

#include "support/HostingTestSupport.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Box;
using DD::Image::ImageBuffer;
using hosting_test::Layer;
using hosting_test::TempDir;

constexpr int kWidth = 37, kHeight = 23;

Layer random_layer(std::vector<std::string> channels, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  Layer layer{std::move(channels), {}};
  layer.pixels.resize(static_cast<std::size_t>(kWidth * kHeight) * layer.channels.size());
  for (float& v : layer.pixels) v = dist(rng);
  // The hostile values must pass through unchanged too.
  layer.pixels[0] = std::numeric_limits<float>::quiet_NaN();
  layer.pixels[4] = -std::numeric_limits<float>::infinity();
  layer.pixels[8] = -0.0f;
  return layer;
}

bool same_bits(const float* a, const float* b, std::size_t n) {
  return std::memcmp(a, b, n * sizeof(float)) == 0;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hosting_test::write_image(dir_ / "passes.exr", kWidth, kHeight,
                              {random_layer({"R", "G", "B"}, 1), random_layer({"N.X", "N.Y", "N.Z"}, 2),
                               random_layer({"P.X", "P.Y", "P.Z"}, 3)});
  }

  FrameSources sources() const {
    FrameSources s;
    s.inputs[kColor] = InputSpec{dir_ / "passes.exr", std::nullopt};
    s.inputs[kNormal] = InputSpec{dir_ / "passes.exr", std::string("N")};
    s.inputs[kPosition] = InputSpec{dir_ / "passes.exr", std::string("P")};
    return s;
  }

  // The command's render of the same passes with `sets`, as float RGBA.
  std::vector<float> command_render(const std::vector<std::string>& sets) {
    std::vector<std::string> args = {"render",
                                     "--color",
                                     dir_ / "passes.exr",
                                     "--normal",
                                     dir_ / "passes.exr:N",
                                     "--P",
                                     dir_ / "passes.exr:P",
                                     "-o",
                                     dir_ / "command.exr"};
    for (const auto& s : sets) args.insert(args.end(), {"--set", s});
    const auto r = hosting_test::run_quorlen(args, dir_);
    EXPECT_EQ(r.code, 0) << r.err;
    return hosting_test::read_image(dir_ / "command.exr").pixels;
  }

  const DD::Image::Op::Description& description() { return load_module(QUORLEN_TEST_PLUGIN); }

  TempDir dir_;
};

TEST_F(SessionTest, WholeFramesAndRegionsEqualTheCommandAfterEveryChange) {
  Session session(description());
  std::vector<std::string> warnings;
  session.read_inputs(sources(), warnings);
  EXPECT_TRUE(warnings.empty());
  ASSERT_EQ(session.geometry().data, Box(0, 0, kWidth, kHeight));

  const std::vector<std::vector<std::string>> changes = {
      {},
      {"lightType=point", "_pointLightPos=0.3,-0.2,2", "pointLightFalloff=1"},
      {"surfaceNoise=on", "surfaceNoiseType=turbulence2"},
      {"outputType=light", "_surfaceSpecular=0.5"}};
  std::vector<std::string> applied;
  for (const auto& change : changes) {
    for (const auto& s : change) {
      const std::size_t eq = s.find('=');
      session.node().set(s.substr(0, eq), s.substr(eq + 1));
      applied.push_back(s);
    }
    const ImageBuffer whole = session.render(2);
    const std::vector<float> expected = command_render(applied);
    ASSERT_EQ(whole.size(), expected.size());
    EXPECT_TRUE(same_bits(whole.data(), expected.data(), expected.size())) << testing::PrintToString(applied);

    // A region is the same pixels as that part of the frame; a region reaching outside is clipped.
    const ImageBuffer part = session.render(Box(5, 3, 19, 17), 1);
    ASSERT_EQ(part.box(), Box(5, 3, 19, 17));
    for (int y = 3; y < 17; ++y)
      EXPECT_TRUE(same_bits(part.line(y), whole.line(y) + 5 * 4, 14 * 4)) << "line " << y;
    EXPECT_EQ(session.render(Box(-10, 20, 100, 40)).box(), Box(0, 20, kWidth, kHeight));
  }
}

TEST_F(SessionTest, RendersAgainWithoutTheFiles) {
  Session session(description());
  std::vector<std::string> warnings;
  session.read_inputs(sources(), warnings);
  const ImageBuffer before = session.render();
  std::filesystem::remove(dir_ / "passes.exr");
  session.node().set("_parallelLightDir", "-1,0.5,1");
  const ImageBuffer after = session.render();
  EXPECT_FALSE(same_bits(before.data(), after.data(), before.size()));
  session.node().set("_parallelLightDir", "1,1,1");
  const ImageBuffer again = session.render();
  EXPECT_TRUE(same_bits(before.data(), again.data(), before.size()));
}

TEST_F(SessionTest, ImagesTheCallerOwnsRenderAsTheSameFilesDo) {
  Session from_files(description());
  std::vector<std::string> warnings;
  from_files.read_inputs(sources(), warnings);

  // The caller's RGBA memory, viewed rather than copied; the fourth channel is ignored.
  const Box box(0, 0, kWidth, kHeight);
  std::vector<std::vector<float>> memory;
  std::array<std::shared_ptr<const ImageBuffer>, kInputCount> images;
  for (int slot : {kColor, kNormal, kPosition}) {
    const ImageBuffer& kept = *from_files.input(slot);
    auto& rgba = memory.emplace_back(static_cast<std::size_t>(kWidth * kHeight * 4), 123.0f);
    for (int p = 0; p < kWidth * kHeight; ++p)
      std::memcpy(&rgba[p * 4], kept.data() + p * 3, 3 * sizeof(float));
    images[static_cast<std::size_t>(slot)] = std::make_shared<const ImageBuffer>(ImageBuffer::view(
        box, {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue, DD::Image::Chan_Alpha},
        rgba.data()));
  }
  Session from_memory(description());
  from_memory.set_inputs(from_files.geometry(), images);
  for (Session* s : {&from_files, &from_memory}) s->node().set("surfaceNoise", "on");
  const ImageBuffer a = from_files.render(), b = from_memory.render();
  EXPECT_TRUE(same_bits(a.data(), b.data(), a.size()));

  // Let go of the views before the memory goes: nothing of it is held or rendered from afterwards.
  from_memory.clear_inputs();
  EXPECT_FALSE(from_memory.has_inputs());
  for (int slot : {kColor, kNormal, kPosition}) EXPECT_EQ(from_memory.input(slot), nullptr);
  EXPECT_THROW(from_memory.render(), Error);
  memory.clear();
  from_memory.set_inputs(from_files.geometry(), {nullptr, from_files.input(kNormal), nullptr, nullptr});
  EXPECT_EQ(from_memory.render().box(), from_files.geometry().data);
}

TEST_F(SessionTest, RefusalsLeaveWhatWasHeld) {
  Session session(description());
  EXPECT_FALSE(session.has_inputs());
  EXPECT_THROW(session.render(), Error);

  std::vector<std::string> warnings;
  session.read_inputs(sources(), warnings);
  const ImageBuffer before = session.render();
  FrameSources missing = sources();
  missing.inputs[kNormal] = InputSpec{dir_ / "passes.exr", std::string("nosuchlayer")};
  EXPECT_THROW(session.read_inputs(missing, warnings), Error);
  const ImageBuffer after = session.render();
  EXPECT_TRUE(same_bits(before.data(), after.data(), before.size()));

  const ImageGeometry g = session.geometry();
  std::array<std::shared_ptr<const ImageBuffer>, kInputCount> none{};
  EXPECT_THROW(session.set_inputs(g, none), Error);
  auto small = std::make_shared<const ImageBuffer>(
      Box(0, 0, 3, 3),
      std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  EXPECT_THROW(session.set_inputs(g, {nullptr, small, nullptr, nullptr}), Error);
  auto no_rgb =
      std::make_shared<const ImageBuffer>(g.data, std::vector<DD::Image::Channel>{DD::Image::Chan_Alpha});
  EXPECT_THROW(session.set_inputs(g, {nullptr, no_rgb, nullptr, nullptr}), Error);
  EXPECT_TRUE(same_bits(before.data(), session.render().data(), before.size()));
}

}  // namespace
}  // namespace quorlen::hosting
