// Zip chunks inflated and deflated here against OpenEXR's own: every sample read equals what OpenEXR decodes,
// over channel types, windows, chunk shapes and line orders; every file written reads back through OpenEXR
// and OpenImageIO as the samples given; and files are no larger than OpenEXR's own, within 2 %.
#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

#include "hosting/images/exr/exr_decoder.h"
#include "hosting/images/exr/exr_encoder.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using DD::Image::Box;
using quorlen::hosting_test::TempDir;

struct ZipFile {
  const char* name;
  Imf::Compression compression;
  Imath::Box2i data;
  Imf::LineOrder order;
  bool noisy;  // noise does not shrink, so its chunks are stored as they are
};

std::ostream& operator<<(std::ostream& os, const ZipFile& f) { return os << f.name; }

// Writes the file with OpenEXR: a half, a float and a uint channel in one layer and a plain float one.
void write_with_openexr(const std::string& path, const ZipFile& f) {
  Imf::Header h(f.data, f.data);
  h.compression() = f.compression;
  h.lineOrder() = f.order;
  const int w = f.data.max.x - f.data.min.x + 1, ht = f.data.max.y - f.data.min.y + 1;
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(ht);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(-3.0f, 3.0f);
  std::vector<Imath::half> halves(n);
  std::vector<float> floats(n), plain(n);
  std::vector<unsigned> uints(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float smooth =
        static_cast<float>(i % static_cast<std::size_t>(w)) * 0.01f + static_cast<float>(i / w);
    halves[i] = f.noisy ? u(rng) : smooth;
    floats[i] = f.noisy ? u(rng) : -smooth;
    plain[i] = i % 97 == 0 ? std::nanf("") : (f.noisy ? u(rng) : 0.5f);
    uints[i] = f.noisy ? static_cast<unsigned>(rng()) : static_cast<unsigned>(i / 7);
  }
  const struct {
    const char* name;
    Imf::PixelType type;
    char* base;
    std::size_t size;
  } channels[] = {{"N.X", Imf::HALF, reinterpret_cast<char*>(halves.data()), 2},
                  {"N.Y", Imf::FLOAT, reinterpret_cast<char*>(floats.data()), 4},
                  {"N.Z", Imf::UINT, reinterpret_cast<char*>(uints.data()), 4},
                  {"Z", Imf::FLOAT, reinterpret_cast<char*>(plain.data()), 4}};
  Imf::FrameBuffer fb;
  for (const auto& c : channels) {
    h.channels().insert(c.name, Imf::Channel(c.type));
    char* origin =
        c.base - (static_cast<std::ptrdiff_t>(f.data.min.x) + static_cast<std::ptrdiff_t>(f.data.min.y) * w) *
                     static_cast<std::ptrdiff_t>(c.size);
    fb.insert(c.name, Imf::Slice(c.type, origin, c.size, c.size * static_cast<std::size_t>(w)));
  }
  Imf::OutputFile out(path.c_str(), h);
  out.setFrameBuffer(fb);
  out.writePixels(ht);
}

std::vector<float> read_all(ImageDecoder& d, int y0, int y1, int c0, int c1) {
  const PartHeader& p = d.parts()[0];
  const std::size_t pixel = static_cast<std::size_t>(c1 - c0), w = static_cast<std::size_t>(p.data.w());
  std::vector<float> out(static_cast<std::size_t>(y1 - y0) * w * pixel, -9.0f);
  d.read(0, y0, y1, c0, c1, out.data(), static_cast<std::ptrdiff_t>(pixel * 4),
         static_cast<std::ptrdiff_t>(pixel * 4 * w));
  return out;
}

class ZipReading : public ::testing::TestWithParam<ZipFile> {};

TEST_P(ZipReading, EverySampleEqualsWhatOpenExrDecodes) {
  const ZipFile& f = GetParam();
  const TempDir dir;
  const std::string path = dir / "in.exr";
  ASSERT_NO_THROW(write_with_openexr(path, f));
  const auto ours = open_exr(path, ZipDecoding::libdeflate);
  const auto theirs = open_exr(path, ZipDecoding::openexr);
  const PartHeader& p = ours->parts()[0];
  ASSERT_EQ(p.channels.size(), 4u);

  const auto same = [&](int y0, int y1, int c0, int c1) {
    const auto a = read_all(*ours, y0, y1, c0, c1), b = read_all(*theirs, y0, y1, c0, c1);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0)
        << "lines " << y0 << "-" << y1 << ", channels " << c0 << "-" << c1;
  };
  same(p.data.y(), p.data.t(), 0, 4);
  // A band starting and ending inside chunks, and a single line at the bottom.
  if (p.data.h() > 3) same(p.data.y() + 3, std::min(p.data.t(), p.data.y() + 37), 1, 3);
  same(p.data.t() - 1, p.data.t(), 0, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ZipReading,
    ::testing::Values(
        ZipFile{"zip_offset_window", Imf::ZIP_COMPRESSION, {{-7, -20}, {52, 40}}, Imf::INCREASING_Y, false},
        ZipFile{"zip_noise_stored_as_is", Imf::ZIP_COMPRESSION, {{0, 0}, {40, 47}}, Imf::INCREASING_Y, true},
        ZipFile{"zip_one_line", Imf::ZIP_COMPRESSION, {{3, 5}, {90, 5}}, Imf::INCREASING_Y, false},
        ZipFile{"zip_decreasing", Imf::ZIP_COMPRESSION, {{0, 0}, {31, 33}}, Imf::DECREASING_Y, false},
        ZipFile{"zips_window", Imf::ZIPS_COMPRESSION, {{-2, 9}, {20, 30}}, Imf::INCREASING_Y, false},
        ZipFile{"zips_noise", Imf::ZIPS_COMPRESSION, {{0, 0}, {15, 16}}, Imf::INCREASING_Y, true},
        ZipFile{"zip_one_column", Imf::ZIP_COMPRESSION, {{0, 0}, {0, 70}}, Imf::INCREASING_Y, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The zip files the other tests keep: the reference renders and their inputs.
TEST(ZipReading, TheStoredReferenceFilesDecodeAsOpenExrDecodesThem) {
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(QUORLEN_SOURCE_DIR "/tests")) {
    if (entry.path().extension() != ".exr") continue;
    const auto ours = open_exr(entry.path().string(), ZipDecoding::libdeflate);
    const auto theirs = open_exr(entry.path().string(), ZipDecoding::openexr);
    for (std::size_t part = 0; part < ours->parts().size(); ++part) {
      const PartHeader& p = ours->parts()[part];
      const int n = static_cast<int>(p.channels.size());
      const auto a = read_all(*ours, p.data.y(), p.data.t(), 0, n),
                 b = read_all(*theirs, p.data.y(), p.data.t(), 0, n);
      EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0) << entry.path();
    }
    ++files;
  }
  EXPECT_GE(files, 5);
}

// Samples with the values that conversion to half and storage must keep: signs, zeros, specials, tiny ones.
std::vector<float> samples(std::size_t count, bool noisy) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-4.0f, 4.0f);
  const float specials[] = {0.0f, -0.0f, INFINITY, -INFINITY, std::nanf(""), 1e-30f, 65504.0f, 7e5f};
  std::vector<float> out(count);
  for (std::size_t i = 0; i < count; ++i)
    out[i] = i % 13 == 0 ? specials[(i / 13) % 8] : (noisy ? u(rng) : static_cast<float>(i % 50) * 0.125f);
  return out;
}

struct Written {
  const char* name;
  const char* compression;
  bool half;
  Box data;
  bool noisy;
};

std::ostream& operator<<(std::ostream& os, const Written& w) { return os << w.name; }

class ZipWriting : public ::testing::TestWithParam<Written> {};

TEST_P(ZipWriting, FilesReadBackThroughOpenExrAndOpenImageIOAsTheSamplesGiven) {
  const Written& k = GetParam();
  const TempDir dir;
  const std::string path = dir / "out.exr";
  EncoderSpec layout;
  layout.data = k.data;
  layout.display = Box(0, 0, 64, 48);
  layout.channels = {"R", "G", "B", "A"};
  layout.half = k.half;
  layout.compression = k.compression;
  const std::size_t w = static_cast<std::size_t>(k.data.w()), h = static_cast<std::size_t>(k.data.h());
  const auto given = samples(w * h * 4, k.noisy);
  {
    auto out = create_exr(path, layout, ZipEncoding::libdeflate);
    // Uneven batches of lines, as bands arrive.
    std::size_t y = 0;
    for (std::size_t step = 1; y < h; step = step * 3 % 23 + 1) {
      const std::size_t lines = std::min(step, h - y);
      out->write(static_cast<int>(lines), given.data() + y * w * 4);
      y += lines;
    }
    out->close();
  }
  std::vector<float> expected = given;
  if (k.half)
    for (float& v : expected) v = Imath::half(v);

  // OpenEXR itself, as float slices.
  Imf::InputFile in(path.c_str());
  EXPECT_EQ(in.header().compression(),
            std::string(k.compression) == "zips" ? Imf::ZIPS_COMPRESSION : Imf::ZIP_COMPRESSION);
  EXPECT_EQ(in.header().dataWindow(),
            Imath::Box2i({k.data.x(), k.data.y()}, {k.data.r() - 1, k.data.t() - 1}));
  std::vector<float> back(w * h * 4, -1.0f);
  Imf::FrameBuffer fb;
  const char* names[] = {"R", "G", "B", "A"};
  for (std::size_t c = 0; c < 4; ++c) {
    char* origin = reinterpret_cast<char*>(back.data() + c) -
                   (static_cast<std::ptrdiff_t>(k.data.x()) +
                    static_cast<std::ptrdiff_t>(k.data.y()) * static_cast<std::ptrdiff_t>(w)) *
                       16;
    fb.insert(names[c], Imf::Slice(Imf::FLOAT, origin, 16, 16 * w));
  }
  in.setFrameBuffer(fb);
  in.readPixels(k.data.y(), k.data.t() - 1);
  EXPECT_EQ(std::memcmp(back.data(), expected.data(), back.size() * sizeof(float)), 0) << "OpenEXR";

  // OpenImageIO.
  auto oiio = OIIO::ImageInput::open(path);
  ASSERT_TRUE(oiio);
  EXPECT_EQ(OIIO::ImageBuf(path).nativespec().channelnames, (std::vector<std::string>{"R", "G", "B", "A"}));
  std::vector<float> viewed(w * h * 4, -1.0f);
  ASSERT_TRUE(oiio->read_image(0, 0, 0, 4, OIIO::TypeFloat, viewed.data()));
  EXPECT_EQ(std::memcmp(viewed.data(), expected.data(), viewed.size() * sizeof(float)), 0) << "OpenImageIO";
}

INSTANTIATE_TEST_SUITE_P(Files, ZipWriting,
                         ::testing::Values(Written{"zip_float", "zip", false, Box(0, 0, 64, 48), false},
                                           Written{"zip_half_offset", "", true, Box(-5, 7, 50, 60), false},
                                           Written{"zip_float_noise", "zip", false, Box(0, 0, 33, 17), true},
                                           Written{"zips_float", "zips", false, Box(3, -2, 40, 20), false},
                                           Written{"zips_half_noise", "zips", true, Box(0, 0, 31, 5), true},
                                           Written{"zip_one_line", "zip", false, Box(0, 0, 100, 1), false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZipWriting, FilesAreNoLargerThanOpenExrWritesThemWithinTwoPercent) {
  // A rendered-looking frame: smooth shading with a grain of noise, as float and as half.
  const int w = 320, h = 180;
  std::mt19937 rng(2);
  std::normal_distribution<float> grain(0.0f, 0.002f);
  std::vector<float> pixels(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        pixels[(static_cast<std::size_t>(y) * w + x) * 3 + c] =
            0.5f + 0.4f * std::sin(0.03f * x + c) * std::cos(0.05f * y) + (c == 0 ? grain(rng) : 0.0f);
  const TempDir dir;
  for (const bool half : {false, true}) {
    EncoderSpec layout;
    layout.data = layout.display = Box(0, 0, w, h);
    layout.channels = {"R", "G", "B"};
    layout.half = half;
    const auto size = [&](ZipEncoding zip) {
      const std::string path = dir / (zip == ZipEncoding::libdeflate ? "ours.exr" : "theirs.exr");
      auto out = create_exr(path, layout, zip);
      out->write(h, pixels.data());
      out->close();
      return static_cast<double>(std::filesystem::file_size(path));
    };
    const double ours = size(ZipEncoding::libdeflate), theirs = size(ZipEncoding::openexr);
    EXPECT_LE(ours, theirs * 1.02) << (half ? "half" : "float") << ": " << ours << " against " << theirs;
  }
}

TEST(ZipWriting, AttributesTakenFromTheColourInputKeepTheirLongNames) {
  // Renderers write attributes with names past 31 bytes, which the file's version field must announce.
  const TempDir dir;
  const std::string source = dir / "source.exr", path = dir / "out.exr";
  const std::string name = "renderer/settings/samples_per_pixel_adaptive";
  {
    Imf::Header h(2, 2);
    h.insert(name, Imf::StringAttribute("64"));
    h.channels().insert("R", Imf::Channel(Imf::FLOAT));
    std::vector<float> r(4, 1.0f);
    Imf::FrameBuffer fb;
    fb.insert("R", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(r.data()), 4, 8));
    Imf::OutputFile out(source.c_str(), h);
    out.setFrameBuffer(fb);
    out.writePixels(2);
  }
  EncoderSpec layout;
  layout.data = layout.display = Box(0, 0, 2, 2);
  layout.channels = {"R", "G", "B"};
  layout.attributes_from = source;
  auto out = create_exr(path, layout, ZipEncoding::libdeflate);
  const std::vector<float> given{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  out->write(2, given.data());
  out->close();
  // Readers that keep to the 31-byte limit refuse such a file unless the flag (0x400) is set.
  const std::string bytes = quorlen::hosting_test::slurp(path);
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_NE(static_cast<unsigned char>(bytes[5]) & 0x04, 0) << "the long-names flag is not set";
  Imf::InputFile in(path.c_str());
  const auto* kept = in.header().findTypedAttribute<Imf::StringAttribute>(name);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->value(), "64");
  auto oiio = OIIO::ImageInput::open(path);
  ASSERT_TRUE(oiio) << OIIO::geterror();
  std::vector<float> back(12);
  ASSERT_TRUE(oiio->read_image(0, 0, 0, 3, OIIO::TypeFloat, back.data()));
  EXPECT_EQ(back, given);
}

}  // namespace
