// The in-process EXR reader and writer against OpenImageIO's view of the same files: windows, channel order,
// every sample bit for bit, strided partial reads, and the failures that must be reported.
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "hosting/images/codecs.h"
#include "hosting/images/declared_lengths.h"
#include "hosting/images/exr/exr_decoder.h"
#include "hosting/images/exr/exr_encoder.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using quorlen::hosting_test::TempDir;

// Samples that exercise conversion: signs, tiny and huge values, and the special ones.
std::vector<float> samples(std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-4.0f, 4.0f);
  const float specials[] = {0.0f,
                            -0.0f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            1e-30f,
                            65504.0f,
                            7e5f};
  std::vector<float> out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = i % 11 == 0 ? specials[(i / 11) % 8] : value(rng);
  return out;
}

constexpr const char* kNothingThrown = "(nothing thrown)";

// The message of the codec_error `f` throws, or kNothingThrown.
template <class F>
std::string failure_of(F&& f) {
  try {
    f();
  } catch (const codec_error& e) {
    return e.what();
  }
  return kNothingThrown;
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

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
