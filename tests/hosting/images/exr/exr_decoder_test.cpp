// The in-process EXR reader against OpenImageIO's view of the same files: windows, channel order, every
// sample bit for bit, strided partial reads, parts, and the failures that must be reported.
#include "hosting/images/exr/exr_decoder.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cstring>

#include "../CodecTestSupport.h"
#include "hosting/images/codecs.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using quorlen::hosting_test::failure_of;
using quorlen::hosting_test::kNothingThrown;
using quorlen::hosting_test::samples;
using quorlen::hosting_test::TempDir;
using quorlen::hosting_test::write_bytes;

struct FileKind {
  const char* name;
  OIIO::TypeDesc type;
  const char* compression;
  int tile;  // 0: scanlines
  Box data;
  Box display;
};

std::ostream& operator<<(std::ostream& os, const FileKind& k) { return os << k.name; }

// A file of the kind, written by OpenImageIO, with colour and a normal layer.
void write_kind(const std::string& path, const FileKind& k) {
  OIIO::ImageSpec spec(k.data.w(), k.data.h(), 7, k.type);
  spec.channelnames = {"R", "G", "B", "A", "N.X", "N.Y", "N.Z"};
  spec.x = k.data.x();
  spec.y = k.data.y();
  spec.full_x = k.display.x();
  spec.full_y = k.display.y();
  spec.full_width = k.display.w();
  spec.full_height = k.display.h();
  spec.attribute("compression", k.compression);
  if (k.tile) spec.tile_width = spec.tile_height = k.tile;
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out);
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  const auto data =
      samples(static_cast<std::size_t>(k.data.w()) * static_cast<std::size_t>(k.data.h()) * 7, 7);
  ASSERT_TRUE(out->write_image(OIIO::TypeFloat, data.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

class ExrDecoderAgrees : public ::testing::TestWithParam<FileKind> {};

TEST_P(ExrDecoderAgrees, WithOpenImageIOOnWindowsChannelsAndEverySample) {
  const FileKind& k = GetParam();
  const TempDir dir;
  const std::string path = dir / "in.exr";
  ASSERT_NO_FATAL_FAILURE(write_kind(path, k));
  ASSERT_TRUE(is_exr_file(path));
  const auto decoder = open_exr(path);
  ASSERT_EQ(decoder->parts().size(), 1u);
  const PartHeader& part = decoder->parts()[0];
  EXPECT_EQ(part.data, k.data);
  EXPECT_EQ(part.display, k.display);
  EXPECT_EQ(part.tile_width, k.tile);
  EXPECT_EQ(part.channels, (std::vector<std::string>{"R", "G", "B", "A", "N.X", "N.Y", "N.Z"}));

  auto in = OIIO::ImageInput::open(path);
  ASSERT_TRUE(in);
  EXPECT_EQ(in->spec().channelnames, part.channels);
  const std::size_t count = static_cast<std::size_t>(k.data.w()) * static_cast<std::size_t>(k.data.h()) * 7;
  std::vector<float> expected(count), got(count, 123.0f);
  ASSERT_TRUE(in->read_image(0, 0, 0, 7, OIIO::TypeFloat, expected.data()));
  decoder->read(0, k.data.y(), k.data.t(), 0, 7, got.data(), 7 * sizeof(float),
                7 * sizeof(float) * k.data.w());
  EXPECT_EQ(std::memcmp(expected.data(), got.data(), count * sizeof(float)), 0);

  // A band of lines and three channels, into a wider buffer whose other floats must stay untouched.
  const int block = k.tile ? k.tile : part.block_lines;
  const int y0 = k.data.y() + block, y1 = std::min(k.data.t(), y0 + 2 * block);
  const std::size_t pixel = 5, width = static_cast<std::size_t>(k.data.w());
  std::vector<float> band(static_cast<std::size_t>(y1 - y0) * width * pixel, -7.0f);
  decoder->read(0, y0, y1, 4, 7, band.data() + 1, pixel * sizeof(float), pixel * sizeof(float) * width);
  for (int y = y0; y < y1; ++y)
    for (std::size_t x = 0; x < width; ++x)
      for (std::size_t c = 0; c < pixel; ++c) {
        const float v = band[(static_cast<std::size_t>(y - y0) * width + x) * pixel + c];
        const std::size_t source = ((static_cast<std::size_t>(y - k.data.y())) * width + x) * 7 + 3 + c;
        if (c >= 1 && c <= 3)
          ASSERT_EQ(std::memcmp(&v, &expected[source], sizeof v), 0) << x << "," << y << "," << c;
        else
          ASSERT_EQ(v, -7.0f) << "written outside the channels asked for at " << x << "," << y;
      }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ExrDecoderAgrees,
    ::testing::Values(
        FileKind{"float_zip_offset", OIIO::TypeFloat, "zip", 0, Box(-3, 5, 37, 45), Box(0, 0, 32, 48)},
        FileKind{"half_piz", OIIO::TypeHalf, "piz", 0, Box(0, 0, 29, 70), Box(0, 0, 29, 70)},
        FileKind{"float_uncompressed", OIIO::TypeFloat, "none", 0, Box(2, -4, 19, 9), Box(0, 0, 16, 8)},
        FileKind{"tiled_partial", OIIO::TypeHalf, "zip", 16, Box(-5, -9, 36, 30), Box(0, 0, 32, 24)},
        FileKind{"tiled_float_zips", OIIO::TypeFloat, "zips", 8, Box(0, 0, 40, 24), Box(0, 0, 40, 24)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExrDecoder, PresentsPlainChannelsFirstAndColourOrderWithinLayers) {
  // OpenEXR stores channels sorted by name.
  EXPECT_EQ(presented_channel_order({"A", "B", "G", "N.X", "N.Y", "N.Z", "R", "Z"}),
            (std::vector<std::string>{"R", "G", "B", "A", "Z", "N.X", "N.Y", "N.Z"}));
  EXPECT_EQ(presented_channel_order(
                {"diffuse.A", "diffuse.B", "diffuse.G", "diffuse.R", "foo.u", "foo.v", "foo.w"}),
            (std::vector<std::string>{"diffuse.R", "diffuse.G", "diffuse.B", "diffuse.A", "foo.u", "foo.v",
                                      "foo.w"}));
  EXPECT_EQ(presented_channel_order({"blue", "green", "red", "x"}),
            (std::vector<std::string>{"red", "green", "blue", "x"}));
  // Layers nested by dots group by everything before the last dot.
  EXPECT_EQ(presented_channel_order({"a.b.B", "a.b.R", "a.G", "a.R"}),
            (std::vector<std::string>{"a.R", "a.G", "a.b.R", "a.b.B"}));
}

TEST(ExrDecoder, MultiPartFilesListEachPartAndFailuresNameTheProblem) {
  const TempDir dir;
  const std::string parts = dir / "parts.exr";
  quorlen::hosting_test::write_multipart(
      parts, 3, 2,
      {{"beauty", quorlen::hosting_test::constant_layer({"R", "G", "B"}, {1, 2, 3}, 3, 2)},
       {"Normal", quorlen::hosting_test::constant_layer({"X", "Y", "Z"}, {0, 0, 1}, 3, 2)}});
  const auto decoder = open_exr(parts);
  ASSERT_EQ(decoder->parts().size(), 2u);
  EXPECT_EQ(decoder->parts()[1].name, "Normal");
  EXPECT_EQ(decoder->parts()[1].channels, (std::vector<std::string>{"X", "Y", "Z"}));
  std::vector<float> z(6 * 3);
  decoder->read(1, 0, 2, 0, 3, z.data(), 3 * sizeof(float), 9 * sizeof(float));
  EXPECT_EQ(z[2], 1.0f);
  EXPECT_EQ(z[17], 1.0f);

  // A channel stored at half resolution cannot land in full-resolution rows.
  const std::string sub = dir / "sub.exr";
  {
    Imf::Header h(4, 4);
    h.channels().insert("R", Imf::Channel(Imf::FLOAT));
    h.channels().insert("G", Imf::Channel(Imf::FLOAT, 2, 2));
    h.channels().insert("B", Imf::Channel(Imf::FLOAT));
    std::vector<float> full(16, 1.0f), half(4, 2.0f);
    Imf::FrameBuffer fb;
    fb.insert("R", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(full.data()), 4, 16));
    fb.insert("B", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(full.data()), 4, 16));
    fb.insert("G", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(half.data()), 4, 8, 2, 2));
    Imf::OutputFile out(sub.c_str(), h);
    out.setFrameBuffer(fb);
    out.writePixels(4);
  }
  std::vector<float> rgb(16 * 3);
  const std::string subsampled = failure_of([&] { open_exr(sub)->read(0, 0, 4, 0, 3, rgb.data(), 12, 48); });
  EXPECT_TRUE(quorlen::hosting_test::contains(subsampled, "\"G\" is subsampled")) << subsampled;

  // A file cut short opens (its header is whole) and fails on the missing lines with a one-line reason.
  const std::string cut = dir / "cut.exr";
  std::string bytes = quorlen::hosting_test::slurp(parts);
  write_bytes(cut, bytes.substr(0, bytes.size() - 40));
  const std::string truncated = failure_of([&] {
    std::vector<float> lines(3 * 2 * 3);
    open_exr(cut)->read(1, 0, 2, 0, 3, lines.data(), 12, 36);
  });
  EXPECT_NE(truncated, kNothingThrown);
  EXPECT_EQ(truncated.find('\n'), std::string::npos);
  EXPECT_THROW(open_exr(dir / "missing.exr"), codec_error);

  // An attribute claiming more bytes than the file holds is refused before any library allocates them.
  const std::string huge = dir / "huge.exr";
  const std::string tag("compression\0compression\0", 24);
  const std::size_t at = bytes.find(tag);
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at + tag.size(), 4, std::string("\xff\xff\xff\x7f", 4));
  write_bytes(huge, bytes);
  const std::string claim = failure_of([&] { open_exr(huge); });
  EXPECT_TRUE(quorlen::hosting_test::contains(claim, "\"compression\" claims 2147483647 bytes")) << claim;
}

}  // namespace
