// Output sample types and compressions: which formats take which, and every combination written and read
// back by OpenImageIO with the pixels expected.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/output.h>

#include <cmath>

#include "hosting/images/image_writer.h"
#include "hosting/images/srgb.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using quorlen::hosting_test::TempDir;

std::string refusal(const std::string& path, const std::string& format, const OutputOptions& options) {
  try {
    checked_type(path, format, options);
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::usage);
    return e.what();
  }
  return "";
}

TEST(OutputOptions, EachFormatTakesItsTypesAndOnlyEXRTakesACompression) {
  EXPECT_EQ(checked_type("a.exr", "openexr", {}), DataType::float32);
  EXPECT_EQ(checked_type("a.png", "png", {}), DataType::uint8);
  EXPECT_EQ(checked_type("a.jpg", "jpeg", {}), DataType::uint8);
  EXPECT_EQ(checked_type("a.tif", "tiff", {DataType::uint16, {}}), DataType::uint16);
  EXPECT_EQ(checked_type("a.exr", "openexr", {DataType::half, "DWAB"}), DataType::half);
  EXPECT_EQ(refusal("a.exr", "openexr", {DataType::uint8, {}}),
            "cannot write \"a.exr\" as -d uint8: openexr files are written as float or half");
  EXPECT_EQ(refusal("a.png", "png", {DataType::half, {}}),
            "cannot write \"a.png\" as -d half: png files are written as uint8 or uint16");
  EXPECT_EQ(refusal("a.jpg", "jpeg", {DataType::uint16, {}}),
            "cannot write \"a.jpg\" as -d uint16: jpeg files are written as uint8");
  EXPECT_EQ(refusal("a.hdr", "hdr", {DataType::half, {}}),
            "cannot write \"a.hdr\" as -d half: hdr files are written as float");
  EXPECT_EQ(refusal("a.tif", "tiff", {{}, "zip"}),
            "cannot write \"a.tif\": --compression applies to EXR outputs only");
  EXPECT_EQ(
      refusal("a.exr", "openexr", {{}, "lzw"}),
      "--compression \"lzw\" is not an EXR compression (one of none, rle, zips, zip, piz, pxr24, b44, b44a, "
      "dwaa, dwab)");
  EXPECT_EQ(data_type_named("UINT16"), DataType::uint16);
  EXPECT_EQ(data_type_named("double"), std::nullopt);
}

constexpr int kW = 16, kH = 8;

float value(int x, int y, int c) {
  return 0.05f + 0.04f * static_cast<float>(x) + 0.01f * static_cast<float>(y * (c + 1));
}

DD::Image::ImageBuffer test_pixels() {
  DD::Image::ImageBuffer rgba(DD::Image::Box(0, 0, kW, kH), {DD::Image::Chan_Red, DD::Image::Chan_Green,
                                                             DD::Image::Chan_Blue, DD::Image::Chan_Alpha});
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 4; ++c) rgba.at(x, y, c) = value(x, y, c);
  return rgba;
}

struct Combination {
  std::string extension;
  DataType type;
  std::string compression;  // "" for none given
};

TEST(OutputOptions, EveryCombinationIsReadBackWithTheExpectedPixels) {
  std::vector<Combination> combinations;
  for (DataType type : {DataType::half, DataType::float32})
    for (const char* compression : kExrCompressions) combinations.push_back({".exr", type, compression});
  for (DataType type : {DataType::half, DataType::float32, DataType::uint8, DataType::uint16})
    combinations.push_back({".tif", type, ""});
  combinations.push_back({".png", DataType::uint8, ""});
  combinations.push_back({".png", DataType::uint16, ""});
  combinations.push_back({".hdr", DataType::float32, ""});

  TempDir dir;
  const DD::Image::ImageBuffer rgba = test_pixels();
  const ImageGeometry geometry{rgba.box(), rgba.box()};
  for (const auto& c : combinations) {
    const std::string what = c.extension + " " + name_of(c.type) + " " + c.compression;
    const std::string path = dir / ("out" + c.extension);
    OutputOptions options{c.type,
                          c.compression.empty() ? std::nullopt : std::optional<std::string>(c.compression)};
    const OutputPlan plan = plan_output(path, options);
    ImageWriter writer(plan, geometry);
    writer.write_lines(rgba);
    writer.commit();

    auto in = OIIO::ImageInput::open(path);
    ASSERT_TRUE(in) << what << OIIO::geterror();
    const OIIO::ImageSpec& spec = in->spec();
    const bool codes = c.type == DataType::uint8 || c.type == DataType::uint16;
    const OIIO::TypeDesc stored = c.type == DataType::half     ? OIIO::TypeHalf
                                  : c.type == DataType::uint8  ? OIIO::TypeUInt8
                                  : c.type == DataType::uint16 ? OIIO::TypeUInt16
                                                               : OIIO::TypeFloat;
    if (c.extension != ".hdr") {
      EXPECT_EQ(spec.format, stored) << what;
    }
    if (!c.compression.empty()) {
      const std::string compression(spec.get_string_attribute("compression"));
      EXPECT_EQ(compression.rfind(c.compression, 0), 0u) << what << ": " << compression;
    }
    const int channels = codes || c.extension == ".hdr" ? 3 : 4;
    ASSERT_EQ(spec.nchannels, channels) << what;
    std::vector<float> pixels(static_cast<std::size_t>(kW * kH * channels));
    std::vector<std::uint16_t> raw(pixels.size());
    if (c.type == DataType::uint16)
      ASSERT_TRUE(in->read_image(0, 0, 0, channels, OIIO::TypeUInt16, raw.data())) << what;
    else
      ASSERT_TRUE(in->read_image(0, 0, 0, channels, OIIO::TypeFloat, pixels.data())) << what;
    const bool lossy = c.compression == "pxr24" || c.compression == "b44" || c.compression == "b44a" ||
                       c.compression == "dwaa" || c.compression == "dwab";
    const float tolerance = c.extension == ".hdr"      ? 1e-2f
                            : lossy                    ? 2e-2f
                            : c.type == DataType::half ? 1e-3f
                                                       : 0.0f;
    int bad = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int k = 0; k < channels; ++k) {
          const std::size_t i = static_cast<std::size_t>((y * kW + x) * channels + k);
          const float v = value(x, y, k);
          if (c.type == DataType::uint16)
            bad += raw[i] != srgb_encode_16bit(v);
          else if (c.type == DataType::uint8)
            bad += std::lround(pixels[i] * 255.0f) != srgb_encode_8bit(v);
          else
            bad += !(std::abs(pixels[i] - v) <= tolerance);
        }
    EXPECT_EQ(bad, 0) << what;
  }
}

}  // namespace
