// The in-process EXR writer against OpenImageIO's reading of its files, and the choice of codec by format
// with the failures that must be reported (the reader is tested in exr/exr_decoder_test.cpp).
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "CodecTestSupport.h"
#include "hosting/images/codecs.h"
#include "hosting/images/declared_lengths.h"
#include "hosting/images/exr/exr_decoder.h"
#include "hosting/images/exr/exr_encoder.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using quorlen::hosting_test::failure_of;
using quorlen::hosting_test::samples;
using quorlen::hosting_test::TempDir;
using quorlen::hosting_test::write_bytes;

TEST(ExrEncoder, WritesWindowsAndSamplesOpenImageIOReadsBackExactly) {
  const TempDir dir;
  const std::string path = dir / "out.exr";
  EncoderSpec spec;
  spec.data = Box(-3, 5, 14, 26);
  spec.display = Box(0, 0, 20, 20);
  spec.channels = {"R", "G", "B", "A"};
  const auto data =
      samples(static_cast<std::size_t>(spec.data.w()) * static_cast<std::size_t>(spec.data.h()) * 4, 3);
  {
    auto out = create_exr(path, spec);
    const std::size_t line = static_cast<std::size_t>(spec.data.w()) * 4;
    out->write(7, data.data());  // bands of any height, in order
    out->write(14, data.data() + 7 * line);
    out->close();
  }
  auto in = OIIO::ImageInput::open(path);
  ASSERT_TRUE(in) << OIIO::geterror();
  const OIIO::ImageSpec& s = in->spec();
  EXPECT_EQ(Box(s.x, s.y, s.x + s.width, s.y + s.height), spec.data);
  EXPECT_EQ(Box(s.full_x, s.full_y, s.full_x + s.full_width, s.full_y + s.full_height), spec.display);
  EXPECT_EQ(s.format, OIIO::TypeFloat);
  EXPECT_EQ(s.get_string_attribute("compression"), "zip");
  std::vector<float> back(data.size());
  ASSERT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeFloat, back.data()));
  EXPECT_EQ(s.channelnames, (std::vector<std::string>{"R", "G", "B", "A"}));
  EXPECT_EQ(std::memcmp(back.data(), data.data(), data.size() * sizeof(float)), 0);

  // Closing before every line is written is an error, not a short file.
  auto short_file = create_exr(dir / "short.exr", spec);
  short_file->write(3, data.data());
  EXPECT_THROW(short_file->close(), codec_error);
  spec.eight_bit = true;
  EXPECT_THROW(create_exr(dir / "bytes.exr", spec), codec_error);
  EXPECT_THROW(create_exr(dir / "no/such/dir.exr", EncoderSpec{spec.data, spec.display, {"R"}}), codec_error);
}

TEST(ImageCodecs, EverythingButExrGoesThroughTheModule) {
  const TempDir dir;
  EXPECT_EQ(output_format(dir / "a.EXR"), "openexr");
  EXPECT_EQ(output_format(dir / "a.png"), "png");
  EXPECT_EQ(output_format(dir / "a.tif"), "tiff");
  EXPECT_EQ(output_format(dir / "a.unknown-extension"), "");
  // A PNG read through the module agrees with OpenImageIO read directly.
  const std::string png = dir / "in.png";
  quorlen::hosting_test::write_image(
      png, 5, 3, {quorlen::hosting_test::constant_layer({"R", "G", "B"}, {0.2f, 0.4f, 1.0f}, 5, 3)});
  const auto decoder = open_image(png);
  EXPECT_EQ(decoder->format_name(), "png");
  std::vector<float> got(15 * 3), expected(15 * 3);
  decoder->read(0, 0, 3, 0, 3, got.data(), 12, 60);
  auto in = OIIO::ImageInput::open(png);
  ASSERT_TRUE(in && in->read_image(0, 0, 0, 3, OIIO::TypeFloat, expected.data()));
  EXPECT_EQ(got, expected);
  // Tiled files of other formats are read in whole tile rows through the module too.
  const std::string tif = dir / "tiled.tif";
  {
    OIIO::ImageSpec spec(37, 21, 3, OIIO::TypeFloat);
    spec.tile_width = spec.tile_height = 16;
    const auto values = samples(37 * 21 * 3, 5);
    auto out = OIIO::ImageOutput::create(tif);
    ASSERT_TRUE(out && out->open(tif, spec) && out->write_image(OIIO::TypeFloat, values.data()) &&
                out->close());
    const auto tiled = open_image(tif);
    ASSERT_EQ(tiled->parts().at(0).tile_height, 16);
    std::vector<float> rows(37 * 21 * 3);
    tiled->read(0, 0, 21, 0, 3, rows.data(), 12, 12 * 37);
    EXPECT_EQ(std::memcmp(rows.data(), values.data(), rows.size() * sizeof(float)), 0);
  }
  // A file named .exr that is not one is not taken for EXR.
  const std::string fake = dir / "fake.exr";
  std::filesystem::copy_file(png, fake);
  EXPECT_FALSE(is_exr_file(fake));
  EXPECT_EQ(open_image(fake)->format_name(), "png");
}

TEST(ImageCodecs, ChunksClaimingMoreThanTheFileHoldsAreRefusedBeforeAnyLibraryReads) {
  const TempDir dir;
  const std::string png = dir / "in.png";
  quorlen::hosting_test::write_image(
      png, 4, 4, {quorlen::hosting_test::constant_layer({"R", "G", "B"}, {0.5f, 0.5f, 0.5f}, 4, 4)});
  std::string bytes = quorlen::hosting_test::slurp(png);
  EXPECT_EQ(png_chunks_problem(png), "");  // a whole file passes
  const std::size_t idat = bytes.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  bytes.replace(idat - 4, 4, std::string("\x74\x00\x00\x00", 4));
  const std::string damaged = dir / "damaged.png";
  write_bytes(damaged, bytes);
  const std::string claim = failure_of([&] { open_image(damaged); });
  EXPECT_TRUE(quorlen::hosting_test::contains(claim, "chunk \"IDAT\" claims 1946157056 bytes")) << claim;
  // A file that cannot be opened is left for the library to report.
  EXPECT_EQ(png_chunks_problem(dir / "missing.png"), "");
}

}  // namespace
