// The normal input's transforms: decoding normals stored in 0..1 and the world light space's z negation,
// applied only where the normal input has pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hosting/frames/frame_inputs.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Box;
using DD::Image::ImageBuffer;

ImageBuffer filled(const Box& box, float r, float g, float b) {
  ImageBuffer image(box, {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x) {
      image.at(x, y, 0) = r;
      image.at(x, y, 1) = g;
      image.at(x, y, 2) = b;
    }
  return image;
}

TEST(NormalTransform, EachCombinationOnlyInsideTheBox) {
  struct Row {
    LightSpace space;
    NormalEncoding encoding;
    float in[3];
    float out[3];
  };
  const Row rows[] = {
      {LightSpace::node, NormalEncoding::signed_values, {0.25f, -0.5f, 1.0f}, {0.25f, -0.5f, 1.0f}},
      {LightSpace::world, NormalEncoding::signed_values, {0.25f, -0.5f, 1.0f}, {0.25f, -0.5f, -1.0f}},
      {LightSpace::node, NormalEncoding::unsigned_values, {0.0f, 0.5f, 1.0f}, {-1.0f, 0.0f, 1.0f}},
      {LightSpace::world, NormalEncoding::unsigned_values, {0.0f, 0.5f, 0.75f}, {-1.0f, 0.0f, -0.5f}},
      {LightSpace::world, NormalEncoding::signed_values, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, -0.0f}},
  };
  for (const Row& row : rows) {
    ImageBuffer image = filled(Box(0, 0, 4, 3), row.in[0], row.in[1], row.in[2]);
    transform_normals(image, Box(1, 1, 3, 2), row.space, row.encoding);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        const bool inside = x >= 1 && x < 3 && y == 1;
        for (int c = 0; c < 3; ++c) {
          const float want = inside ? row.out[c] : row.in[c];
          EXPECT_EQ(std::signbit(image.at(x, y, c)), std::signbit(want)) << x << "," << y << " c" << c;
          EXPECT_EQ(image.at(x, y, c), want) << x << "," << y << " c" << c;
        }
      }
  }
}

TEST(NormalTransform, NonFiniteValuesStayNonFinite) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  ImageBuffer image = filled(Box(0, 0, 1, 1), nan, inf, -inf);
  transform_normals(image, image.box(), LightSpace::world, NormalEncoding::unsigned_values);
  EXPECT_TRUE(std::isnan(image.at(0, 0, 0)));
  EXPECT_EQ(image.at(0, 0, 1), inf);
  EXPECT_EQ(image.at(0, 0, 2), inf);  // 2(-inf) - 1, then negated
}

}  // namespace
}  // namespace quorlen::hosting
