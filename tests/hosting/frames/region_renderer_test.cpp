// The render stage on in-memory inputs: any region gives the same pixels as the whole box, whatever the
// threads; progress adds up to the region's lines; a stop leaves the node unconnected and usable.
#include "hosting/frames/region_renderer.h"

#include <gtest/gtest.h>
#include <quorlen/module.h>
#include <quorlen/node.h>

#include <cstring>
#include <random>
#include <stdexcept>

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using DD::Image::ImageBuffer;

const Box kData(-3, 2, 41, 150);
const ImageGeometry kGeometry{kData, Box(0, 0, 40, 150)};

std::shared_ptr<const ImageBuffer> random_rgb(unsigned seed) {
  auto buffer = std::make_shared<ImageBuffer>(
      kData,
      std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (std::size_t i = 0; i < buffer->size(); ++i) buffer->data()[i] = u(rng);
  return buffer;
}

class RegionRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = std::make_unique<Node>(load_module(QUORLEN_TEST_PLUGIN));
    // A point light and surface noise, so every input shapes the pixels.
    node_->set("lightType", "point");
    node_->set("_pointLightPos", "0.5,0.5,3");
    node_->set("surfaceNoise", "on");
    inputs_.box = kData;
    for (int slot = 0; slot < kInputCount; ++slot)
      inputs_.images[static_cast<std::size_t>(slot)] = random_rgb(static_cast<unsigned>(slot) + 1);
  }

  // Whether `part` holds the same bits as `whole` over all of `part`'s box.
  static bool same_pixels(const ImageBuffer& part, const ImageBuffer& whole) {
    for (int y = part.box().y(); y < part.box().t(); ++y)
      if (std::memcmp(part.line(y), whole.line(y) + (part.box().x() - whole.box().x()) * 4,
                      static_cast<std::size_t>(part.box().w()) * 4 * sizeof(float)) != 0)
        return false;
    return true;
  }

  std::unique_ptr<Node> node_;
  BandInputs inputs_;
};

TEST_F(RegionRendererTest, ARegionEqualsTheSameLinesOfTheWholeBoxOnAnyThreads) {
  RegionRenderer one_thread(node_->op(), {1, 0, 0});
  const auto whole = one_thread.render(inputs_, kGeometry);
  ASSERT_EQ(whole->box(), kData);
  ASSERT_EQ(whole->channel_count(), 4);

  RegionRenderer split(node_->op(), {4, 7, 3});
  EXPECT_TRUE(same_pixels(*split.render(inputs_, kGeometry), *whole));

  const Box region(5, 9, 30, 140);
  int lines = 0, calls = 0;
  const auto part = split.render(inputs_, kGeometry, region, [&](int n) {
    EXPECT_GT(n, 0);
    lines += n;
    ++calls;
  });
  ASSERT_EQ(part->box(), region);
  EXPECT_TRUE(same_pixels(*part, *whole));
  EXPECT_EQ(lines, region.h());
  EXPECT_GT(calls, 1) << "a region of " << region.h() << " lines reports progress more than once";
}

TEST_F(RegionRendererTest, AStopLeavesTheNodeUnconnectedAndUsable) {
  RegionRenderer renderer(node_->op(), {2, 0, 0});
  const auto before = renderer.render(inputs_, kGeometry);
  EXPECT_THROW(renderer.render(inputs_, kGeometry, [](int) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  // Unconnected, each input is the host's empty operator, as is an index out of range.
  const DD::Image::Iop* unconnected = node_->op().input(-1);
  for (int i = 0; i < kInputCount; ++i) EXPECT_EQ(node_->op().input(i), unconnected) << i;
  EXPECT_TRUE(same_pixels(*renderer.render(inputs_, kGeometry), *before));

  int calls = 0;
  const auto empty = renderer.render(inputs_, kGeometry, Box(4, 4, 4, 9), [&](int) { ++calls; });
  EXPECT_TRUE(empty->box().empty());
  EXPECT_EQ(calls, 0);
}

}  // namespace
