// One node shared by many threads that each render whole frames and bands of lines, split into spans of
// different widths, at the same time: every result must equal a single-threaded render bit for bit, and the
// node's parameter record must come out of it untouched (rendering only reads it).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "DDImage/Row.h"
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
  return quorlen::test::rgb_source({kWidth, kHeight}, {0, 0, kWidth, kHeight}, [&](int, int) {
    return Pixel3{u(rng), u(rng), u(rng)};
  });
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

const Box kBox{0, 0, kWidth, kHeight};
const std::vector<Channel> kChannels{Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha};
const std::size_t kLineBytes = static_cast<std::size_t>(kWidth) * 4 * sizeof(float);

class ConcurrentRender : public ::testing::TestWithParam<Setup> {
 protected:
  void SetUp() override {
    std::mt19937 rng(11);
    color_ = random_source(rng, 0.0f, 1.0f);
    normal_ = random_source(rng, -1.0f, 1.0f);
    position_ = random_source(rng, -3.0f, 3.0f);
    noise_ = random_source(rng, -3.0f, 3.0f);
    node_ = quorlen::test::make_node();
    GetParam().apply(op().parameters());
    op().set_input(0, color_.get());
    op().set_input(1, normal_.get());
    op().set_input(2, position_.get());
    op().set_input(3, noise_.get());
    // Rendered row by row on this thread, without the executor: the plain-threads test below must run with
    // no task library in the process at all.
    const ChannelSet rgba(Mask_RGBA);
    op().validate(true);
    op().request(0, 0, kWidth, kHeight, rgba, 1);
    op().settle_input_requests();
    reference_ = std::make_unique<ImageBuffer>(kBox, kChannels);
    for (int y = 0; y < kHeight; ++y) {
      Row row(0, kWidth);
      row.get(op(), y, 0, kWidth, rgba);
      for (int x = 0; x < kWidth; ++x)
        for (int k = 0; k < 4; ++k) reference_->line(y)[x * 4 + k] = row[kChannels[k]][x];
    }
  }
  quorlen::Quorlen& op() { return static_cast<quorlen::Quorlen&>(node_->op()); }

  std::unique_ptr<MemorySource> color_, normal_, position_, noise_;
  std::unique_ptr<NodeInstance> node_;
  std::unique_ptr<ImageBuffer> reference_;
};

TEST_P(ConcurrentRender, ManyRendersOfOneSharedNodeGiveTheSameBits) {
  auto& op = this->op();
  const Box box = kBox;
  const ChannelSet rgba(Mask_RGBA);
  const auto& channels = kChannels;
  const ImageBuffer& reference = *reference_;
  const std::size_t line_bytes = kLineBytes;

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
        const int workers = 1 + (i % 3);
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
  EXPECT_EQ(std::memcmp(before, &op.parameters(), sizeof before), 0)
      << "a render wrote to the parameter record";
}

// The same sharing with no task library in the process's way: plain threads fetch rows straight from the
// operator, so the thread checker sees every access and every hand-off.
TEST_P(ConcurrentRender, RowsFetchedFromPlainThreadsGiveTheSameBits) {
  auto& op = this->op();
  unsigned char before[sizeof(quorlen::Parameters)];
  std::memcpy(before, &op.parameters(), sizeof before);
  const ChannelSet rgba(Mask_RGBA);

  constexpr int kThreads = 4;
  std::atomic<int> mismatched_pixels{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 local(static_cast<unsigned>(200 + t));
      for (int pass = 0; pass < 3; ++pass) {
        const int span = std::uniform_int_distribution<int>(1, kWidth)(local);
        for (int y = 0; y < kHeight; ++y) {
          for (int x = 0; x < kWidth; x += span) {
            const int r = std::min(kWidth, x + span);
            Row row(x, r);
            row.get(op, y, x, r, rgba);
            const float* expected = reference_->line(y);
            for (int i = x; i < r; ++i)
              for (int k = 0; k < 4; ++k)
                if (std::memcmp(&row[kChannels[k]][i], &expected[i * 4 + k], sizeof(float)) != 0)
                  ++mismatched_pixels;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();

  EXPECT_EQ(mismatched_pixels.load(), 0) << GetParam().name;
  EXPECT_EQ(std::memcmp(before, &op.parameters(), sizeof before), 0)
      << "a render wrote to the parameter record";
}

INSTANTIATE_TEST_SUITE_P(Settings, ConcurrentRender, ::testing::ValuesIn(kSetups),
                         [](const ::testing::TestParamInfo<Setup>& info) {
                           return "case" + std::to_string(info.index);
                         });

}  // namespace
