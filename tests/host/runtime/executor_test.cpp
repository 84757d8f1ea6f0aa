// Parallel rendering through the real module gives the same bits whatever the threads and spans.
#include "DDImageHost/Executor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "plugin/Quorlen.h"
#include "support/Images.h"
#include "support/Module.h"

namespace {

using namespace DD::Image;
using quorlen::test::Pixel3;

struct Inputs {
  std::unique_ptr<MemorySource> color, normal, position, noise;
};

Inputs random_inputs(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  auto random = [&](int, int) { return Pixel3{u(rng), u(rng), u(rng)}; };
  const Format f{w, h};
  const Box b{0, 0, w, h};
  return {quorlen::test::rgb_source(f, b, random), quorlen::test::rgb_source(f, b, random),
          quorlen::test::rgb_source(f, b, random), quorlen::test::rgb_source(f, b, random)};
}

ImageBuffer render(const Inputs& in, const RenderOptions& options,
                   const std::function<void(quorlen::Parameters&)>& setup) {
  auto node = quorlen::test::make_node();
  auto& op = static_cast<quorlen::Quorlen&>(node->op());
  setup(op.parameters());
  op.set_input(0, in.color.get());
  op.set_input(1, in.normal.get());
  op.set_input(2, in.position.get());
  op.set_input(3, in.noise.get());
  const Box box{0, 0, in.color->format().width(), in.color->format().height()};
  ImageBuffer out(box, {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha});
  Executor(options).render(op, box, ChannelSet(Mask_RGBA), out);
  return out;
}

TEST(Executor, SameBitsForAnyThreadCountAndSpanSplit) {
  const Inputs in = random_inputs(97, 61, 7);
  auto setup = [](quorlen::Parameters& p) {
    p.lightType = 1;
    p._pointLightPos = {0.2f, -0.3f, -1.5f};
    p.pointLightFalloff = 1.5f;
    p._surfaceSpecular = {0.5f, 0.5f, 0.5f};
    p.surfaceNoise = true;
    p.surfaceNoiseType = 1;
    p.noiseFrequency = 2;
  };
  const ImageBuffer reference = render(in, {1, 0, 0}, setup);
  const std::size_t bytes = 97u * 61u * 4u * sizeof(float);
  for (const RenderOptions options :
       {RenderOptions{2, 0, 0}, RenderOptions{4, 7, 1}, RenderOptions{0, 1, 5}, RenderOptions{3, 96, 0}}) {
    const ImageBuffer other = render(in, options, setup);
    EXPECT_EQ(std::memcmp(reference.data(), other.data(), bytes), 0)
        << "threads " << options.threads << " span " << options.span_width;
  }
}

TEST(Executor, RendersOnlyTheRequestedLinesAndZeroOutsideTheInputs) {
  Inputs in = random_inputs(8, 8, 3);
  auto node = quorlen::test::make_node();
  Iop& op = node->op();
  op.set_input(0, in.color.get());
  op.set_input(1, in.normal.get());
  const Box box{-2, 0, 10, 8};
  ImageBuffer out(box, {Chan_Red, Chan_Alpha});
  for (int y = 0; y < 8; ++y)
    for (int x = -2; x < 10; ++x) out.at(x, y, 0) = -1.0f;
  Executor executor;
  executor.prepare(op, box, ChannelSet(Mask_RGBA));
  executor.render_lines(op, box, ChannelSet(Mask_RGBA), 2, 4, out);
  EXPECT_EQ(out.at(3, 1, 0), -1.0f);  // line 1 was not asked for
  EXPECT_EQ(out.at(3, 4, 0), -1.0f);
  EXPECT_NE(out.at(3, 2, 0), -1.0f);
  EXPECT_EQ(out.at(-1, 2, 0), 0.0f);  // outside the inputs' box
  EXPECT_EQ(out.at(9, 3, 0), 0.0f);
  EXPECT_EQ(in.color->requested().box, box);
}

// A source rendered on its own comes back sample for sample: the gathering of interleaved lines into
// rows and the interleaving of rows into the buffer, over spans whose widths are and are not multiples of
// four and start anywhere.
TEST(Executor, ASourceComesBackSampleForSample) {
  const Box box{-3, 0, 14, 3};
  auto source = quorlen::test::rgb_source({14, 3}, box, [](int x, int y) {
    return Pixel3{float(x) + 0.25f, float(y) - 0.5f, float(x * y) + 0.125f};
  });
  for (const int span : {0, 1, 3, 4, 5, 9}) {
    ImageBuffer out(box, {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha});
    Executor(RenderOptions{1, span, 0}).render(*source, box, ChannelSet(Mask_RGBA), out);
    for (int y = box.y(); y < box.t(); ++y)
      for (int x = box.x(); x < box.r(); ++x) {
        EXPECT_EQ(out.at(x, y, 0), float(x) + 0.25f) << "span " << span << " at " << x << "," << y;
        EXPECT_EQ(out.at(x, y, 1), float(y) - 0.5f) << "span " << span << " at " << x << "," << y;
        EXPECT_EQ(out.at(x, y, 2), float(x * y) + 0.125f) << "span " << span << " at " << x << "," << y;
        EXPECT_EQ(out.at(x, y, 3), 0.0f)
            << "span " << span << " at " << x << "," << y;  // no alpha in the source
      }
  }
}

}  // namespace
