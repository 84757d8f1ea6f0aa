// Previews are made in memory: the colour codes must be those of a render written to PNG, data passes are
// shown by their values (not through the light's curve), and the PNG bytes must hold exactly those codes.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/images.h>
#include <quorlen/preview.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <random>

#include "hosting/images/srgb.h"
#include "support/HostingTestSupport.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Box;
using DD::Image::ImageBuffer;

ImageBuffer rgb(int w, int h, const std::vector<float>& values) {
  ImageBuffer image(Box(0, 0, w, h), {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  std::copy(values.begin(), values.end(), image.data());
  return image;
}

TEST(Preview, ColourCodesAreTheWritersWithAndWithoutExposure) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(-0.5f, 2.0f);
  std::vector<float> values(5 * 3 * 3);
  for (float& v : values) v = dist(rng);
  values[0] = std::numeric_limits<float>::quiet_NaN();
  values[1] = std::numeric_limits<float>::infinity();
  values[2] = -0.0f;
  const ImageBuffer image = rgb(5, 3, values);
  const Preview plain = preview_codes(image, PreviewKind::colour);
  const Preview brighter = preview_codes(image, PreviewKind::colour, 1.5);
  ASSERT_EQ(plain.rgb.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(plain.rgb[i], srgb_encode_8bit(values[i])) << i;
    EXPECT_EQ(brighter.rgb[i], srgb_encode_8bit(values[i] * static_cast<float>(std::exp2(1.5)))) << i;
  }
  EXPECT_EQ(plain.rgb[0], 0);    // NaN
  EXPECT_EQ(plain.rgb[1], 255);  // infinity
}

TEST(Preview, NormalsAreShownAsHalfPlusHalfAndPositionsOverTheirRange) {
  // A z-up normal, a normal pointing away, and one beyond unit length.
  const ImageBuffer normals = rgb(3, 1, {0, 0, 1, -1, 0, 0, 3, -3, 0.5f});
  const Preview n = preview_codes(normals, PreviewKind::normals);
  EXPECT_EQ(n.rgb, (std::vector<std::uint8_t>{128, 128, 255, 0, 128, 128, 255, 0, 191}));
  // Each component spread on its own; a component that does not vary is 0; NaN ignored and shown as 0.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const ImageBuffer positions = rgb(3, 1, {-10, 5, nan, 0, 5, 2, 10, 5, 4});
  const Preview p = preview_codes(positions, PreviewKind::positions);
  EXPECT_EQ(p.rgb, (std::vector<std::uint8_t>{0, 0, 0, 128, 0, 0, 255, 0, 255}));
}

TEST(Preview, ThePngHoldsTheCodesLineByLine) {
  std::vector<float> values(7 * 4 * 3);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<float>(i) / static_cast<float>(values.size());
  const ImageBuffer image = rgb(7, 4, values);
  const std::string png = preview_png(image, PreviewKind::colour, 0.25);
  ASSERT_GT(png.size(), 8u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  hosting_test::TempDir dir;
  const std::string path = dir / "preview.png";
  std::ofstream(path, std::ios::binary) << png;
  OIIO::ImageSpec spec;
  const std::vector<unsigned char> stored = hosting_test::read_bytes(path, spec);
  EXPECT_EQ(spec.width, 7);
  EXPECT_EQ(spec.height, 4);
  EXPECT_EQ(spec.nchannels, 3);
  EXPECT_EQ(stored, preview_codes(image, PreviewKind::colour, 0.25).rgb);
}

TEST(Preview, ExposuresThatCannotBeShownAreRefused) {
  const ImageBuffer image = rgb(1, 1, {0.5f, 0.5f, 0.5f});
  for (double stops : {65.0, -65.0, std::nan(""), std::numeric_limits<double>::infinity()}) try {
      preview_codes(image, PreviewKind::colour, stops);
      ADD_FAILURE() << "accepted " << stops;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::usage);
    }
}

TEST(Preview, WrittenPreviewsKeepTheirCodesAndRefuseFloatFormats) {
  hosting_test::TempDir dir;
  const Preview codes{2, 2, {0, 1, 2, 3, 4, 5, 250, 251, 252, 253, 254, 255}};
  write_preview(dir / "p.png", codes);
  OIIO::ImageSpec spec;
  EXPECT_EQ(hosting_test::read_bytes(dir / "p.png", spec), codes.rgb);
  EXPECT_THROW(write_preview(dir / "p.exr", codes), Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "p.exr"));
  EXPECT_THROW(write_preview(dir / "short.png", Preview{2, 2, {1, 2, 3}}), Error);
  EXPECT_FALSE(std::filesystem::exists(dir / "short.png"));
}

}  // namespace
}  // namespace quorlen::hosting
