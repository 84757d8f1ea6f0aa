// One node shared by many threads that each render whole frames and bands of lines, split into spans of
// different widths, at the same time: every result must equal a single-threaded render bit for bit, and the
// node's parameter record must come out of it untouched (rendering only reads it).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "DDImageHost/Executor.h"
#include "plugin/Quorlen.h"
#include "support/Images.h"
#include "support/Module.h"

namespace {

using namespace DD::Image;
using quorlen::test::Pixel3;

constexpr int kWidth = 67;
constexpr int kHeight = 45;

std::unique_ptr<MemorySource> random_source(std::mt19937& rng, float lo, float hi) {
  std::uniform_real_distribution<float> u(lo, hi);
  return quorlen::test::rgb_source({kWidth, kHeight}, {0, 0, kWidth, kHeight},
                                   [&](int, int) { return Pixel3{u(rng), u(rng), u(rng)}; });
}

struct Setup {
  const char* name;
  void (*apply)(quorlen::Parameters&);
};

const Setup kSetups[] = {
    {"point light, specular, turbulence",
     [](quorlen::Parameters& p) {
       p.lightType = 1;
       p._pointLightPos = {0.3f, -0.2f, -2.0f};
       p.pointLightFalloff = 2.0f;
       p._surfaceSpecular = {0.4f, 0.4f, 0.4f};
       p.surfaceNoise = true;
       p.surfaceNoiseType = 1;
       p.noiseFrequency = 3.0f;
     }},
    {"parallel light, stripes, light output",
     [](quorlen::Parameters& p) {
       p._parallelLightDir = {-0.5f, 1.0f, 0.25f};
       p.surfaceNoise = true;
       p.surfaceNoiseType = 0;
       p.stripesNoiseDir = 5;
       p.outputType = 1;
     }},
    {"snoise with scatter",
     [](quorlen::Parameters& p) {
       p._lightScatter = {0.1f, 0.2f, 0.3f};
       p.surfaceNoise = true;
       p.surfaceNoiseType = 3;
       p.noiseOffset = {1.5f, -2.0f, 0.5f};
     }},
};

class ConcurrentRender : public ::testing::TestWithParam<Setup> {};

TEST_P(ConcurrentRender, ManyRendersOfOneSharedNodeGiveTheSameBits) {
  std::mt19937 rng(11);
  const auto color = random_source(rng, 0.0f, 1.0f);
  const auto normal = random_source(rng, -1.0f, 1.0f);
  const auto position = random_source(rng, -3.0f, 3.0f);
  const auto noise = random_source(rng, -3.0f, 3.0f);

  auto node = quorlen::test::make_node();
  auto& op = static_cast<quorlen::Quorlen&>(node->op());
  GetParam().apply(op.parameters());
  op.set_input(0, color.get());
  op.set_input(1, normal.get());
  op.set_input(2, position.get());
  op.set_input(3, noise.get());

  const Box box{0, 0, kWidth, kHeight};
  const ChannelSet rgba(Mask_RGBA);
  const std::vector<Channel> channels{Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha};
  ImageBuffer reference(box, channels);
  Executor(RenderOptions{1, 0, 0}).render(op, box, rgba, reference);
  const std::size_t line_bytes = static_cast<std::size_t>(kWidth) * channels.size() * sizeof(float);

  // The record as validated; concurrent renders may read it but never write it.
  unsigned char before[sizeof(quorlen::Parameters)];
  std::memcpy(before, &op.parameters(), sizeof before);

  constexpr int kThreads = 6;
  constexpr int kRendersPerThread = 8;
  std::atomic<int> mismatched_lines{0};
  std::atomic<int> renders{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 local(static_cast<unsigned>(100 + t));
      for (int i = 0; i < kRendersPerThread; ++i) {
        // Alternate whole frames and bands; spans from one pixel to wider than the line.
        const int span = std::uniform_int_distribution<int>(0, kWidth + 3)(local);
        const int grain = std::uniform_int_distribution<int>(0, 5)(local);
#if defined(__SANITIZE_THREAD__)
        // The thread checker cannot see the synchronisation inside the (uninstrumented) task library, so under
        // it the concurrency comes from these threads alone: each render runs on its own thread.
        const int workers = 1;
#else
        const int workers = 1 + (i % 3);
#endif
        int y0 = 0, y1 = kHeight;
        if (i % 2 == 1) {
          y0 = std::uniform_int_distribution<int>(0, kHeight - 1)(local);
          y1 = std::uniform_int_distribution<int>(y0 + 1, kHeight)(local);
        }
        ImageBuffer out(box, channels);
        Executor(RenderOptions{workers, span, grain}).render_lines(op, box, rgba, y0, y1, out);
        for (int y = y0; y < y1; ++y)
          if (std::memcmp(out.line(y), reference.line(y), line_bytes) != 0) ++mismatched_lines;
        ++renders;
      }
    });
  }
  for (auto& th : threads) th.join();

  EXPECT_EQ(renders.load(), kThreads * kRendersPerThread);
  EXPECT_EQ(mismatched_lines.load(), 0) << GetParam().name;
  EXPECT_EQ(std::memcmp(before, &op.parameters(), sizeof before), 0) << "a render wrote to the parameter record";
}

INSTANTIATE_TEST_SUITE_P(Settings, ConcurrentRender, ::testing::ValuesIn(kSetups),
                         [](const ::testing::TestParamInfo<Setup>& info) { return "case" + std::to_string(info.index); });

}  // namespace
