// Damaged, degenerate and hostile input files: each is refused with one line naming the problem and exit
// code 1, or (for non-finite pixel values) rendered; never a crash and never a file left behind.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <limits>
#include <random>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::uint32_t crc32(const std::string& bytes, std::size_t begin, std::size_t end) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = begin; i < end; ++i) {
    crc ^= static_cast<unsigned char>(bytes[i]);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put_be32(std::string& bytes, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k)
    bytes[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> (24 - 8 * k)) & 0xFF);
}

void put_le32(std::string& bytes, std::size_t at, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int k = 0; k < 4; ++k)
    bytes[at + static_cast<std::size_t>(k)] = static_cast<char>((u >> (8 * k)) & 0xFF);
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A single-part scanline EXR cut at its chunks: the bytes before the offset table, and each chunk's first
// line and stored bytes.
struct ExrChunks {
  std::string head;
  std::vector<std::pair<std::int32_t, std::string>> chunks;
};

std::uint64_t get_le(const std::string& bytes, std::size_t at, int size) {
  std::uint64_t v = 0;
  for (int k = size; k-- > 0;)
    v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
  return v;
}

ExrChunks split_chunks(const std::string& exr, std::size_t count) {
  std::size_t at = 8;
  while (exr[at] != 0) {
    at = exr.find('\0', at) + 1;  // name
    at = exr.find('\0', at) + 1;  // type
    at += 4 + get_le(exr, at, 4);
  }
  ExrChunks out{exr.substr(0, at + 1), {}};
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t chunk = get_le(exr, at + 1 + 8 * k, 8);
    out.chunks.emplace_back(static_cast<std::int32_t>(get_le(exr, chunk, 4)),
                            exr.substr(chunk + 8, get_le(exr, chunk + 4, 4)));
  }
  return out;
}

// The file again, each chunk's length field saying what `declared` gives (its true length by default).
std::string join_chunks(
    const ExrChunks& c, const std::function<std::uint32_t(std::size_t, std::size_t)>& declared =
                            [](std::size_t, std::size_t size) { return size; }) {
  std::string out = c.head + std::string(8 * c.chunks.size(), '\0');
  for (std::size_t k = 0; k < c.chunks.size(); ++k) {
    std::string offset(8, '\0');
    for (int b = 0; b < 8; ++b)
      offset[static_cast<std::size_t>(b)] = static_cast<char>(out.size() >> (8 * b) & 0xFF);
    out.replace(c.head.size() + 8 * k, 8, offset);
    std::string frame(8, '\0');
    put_le32(frame, 0, c.chunks[k].first);
    put_le32(frame, 4, static_cast<std::int32_t>(declared(k, c.chunks[k].second.size())));
    out += frame + c.chunks[k].second;
  }
  return out;
}

// A zlib stream of `size` zero bytes.
std::string zlib_zeros(std::size_t size) {
  const std::string zeros(size, '\0');
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  std::string out(libdeflate_zlib_compress_bound(c, size), '\0');
  out.resize(libdeflate_zlib_compress(c, zeros.data(), size, out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

// An 8-bit PNG of noise, which compresses badly, so that cutting or damaging it hits pixel data.
void write_noise_png(const std::string& path, int width, int height, int channels) {
  std::mt19937 rng(5);
  std::vector<unsigned char> data(static_cast<std::size_t>(width * height * channels));
  for (auto& b : data) b = static_cast<unsigned char>(rng());
  OIIO::ImageSpec spec(width, height, channels, OIIO::TypeUInt8);
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out && out->open(path, spec) && out->write_image(OIIO::TypeUInt8, data.data()) && out->close());
}

// A copy of a PNG whose header claims width x height, with the header's checksum made right again so only
// the size is wrong.
std::string png_claiming(const std::string& png, std::uint32_t width, std::uint32_t height) {
  std::string bytes = png;
  // Signature (8), IHDR length (4), "IHDR" (4), width, height, 5 more bytes, then the CRC of type and data.
  put_be32(bytes, 16, width);
  put_be32(bytes, 20, height);
  put_be32(bytes, 29, crc32(bytes, 12, 29));
  return bytes;
}

// A copy of an EXR whose data window attribute says [xmin, ymin] - [xmax, ymax].
std::string exr_with_data_window(const std::string& exr, int xmin, int ymin, int xmax, int ymax) {
  std::string bytes = exr;
  const std::string key("dataWindow\0box2i\0", 17);
  const std::size_t at = bytes.find(key);
  EXPECT_NE(at, std::string::npos);
  if (at == std::string::npos) return bytes;
  const std::size_t values = at + key.size() + 4;  // after the attribute's size
  put_le32(bytes, values, xmin);
  put_le32(bytes, values + 4, ymin);
  put_le32(bytes, values + 8, xmax);
  put_le32(bytes, values + 12, ymax);
  return bytes;
}

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    Layer noisy{{"R", "G", "B"}, {}};
    for (int i = 0; i < 64 * 64 * 3; ++i) noisy.pixels.push_back(u(rng));
    write_image(dir / "noisy.exr", 64, 64, {noisy});
    write_image(dir / "small.exr", 4, 4, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 4, 4)});
    write_noise_png(dir / "noisy.png", 64, 64, 3);
    write_noise_png(dir / "grey.png", 8, 8, 1);

    const std::string exr = slurp(dir / "noisy.exr");
    const std::string png = slurp(dir / "noisy.png");
    // Damage past the header: the second half of the file overwritten with a repeating pattern.
    std::string damaged_exr = exr;
    for (std::size_t i = exr.size() / 2; i < exr.size(); ++i)
      damaged_exr[i] = static_cast<char>(0xA5 ^ (i & 0xFF));
    write_bytes(dir / "damaged.exr", damaged_exr);
    // Damage inside the header: the channel list's name bytes scrambled.
    std::string bad_header_exr = exr;
    const std::size_t channels = exr.find("channels");
    for (std::size_t i = channels; i < channels + 40; ++i) bad_header_exr[i] = static_cast<char>(0xFF);
    write_bytes(dir / "bad-header.exr", bad_header_exr);
    write_bytes(dir / "empty.exr", "");
    write_bytes(dir / "truncated.png", png.substr(0, png.size() / 2));
    write_bytes(dir / "header-only.png", png.substr(0, 40));
    std::string damaged_png = png;
    for (std::size_t i = png.size() / 2; i < png.size() / 2 + 64; ++i)
      damaged_png[i] = static_cast<char>(~damaged_png[i]);
    write_bytes(dir / "damaged.png", damaged_png);
    write_bytes(dir / "zero-width.png", png_claiming(png, 0, 64));
    write_bytes(dir / "huge.png", png_claiming(png, 30000, 30000));
    const std::string small = slurp(dir / "small.exr");
    write_bytes(dir / "huge.exr", exr_with_data_window(small, 0, 0, 99999, 99999));
    write_bytes(dir / "inverted-window.exr", exr_with_data_window(small, 0, 0, -1, -1));
    before = dir.files();
  }

  std::string expand(const std::string& s) const { return expand_at(s, dir.path()); }

  TempDir dir;
  TempDir scratch;
  std::vector<std::string> before;
};

TEST_F(HostileInput, DamagedOrDegenerateFilesAreRefusedWithOneLine) {
  struct Case {
    const char* name;
    std::string input;    // given as --normal; "@" is the test directory
    std::string message;  // expected after "quorlen: error: "
    std::vector<std::string> extra = {};
  };
  const Case cases[] = {
      {"damaged EXR pixel data", "@/damaged.exr", "cannot read \"@/damaged.exr\": "},
      {"damaged EXR header", "@/bad-header.exr", "cannot read \"@/bad-header.exr\": "},
      {"empty file", "@/empty.exr", "cannot read \"@/empty.exr\": "},
      {"truncated PNG", "@/truncated.png", "cannot read \"@/truncated.png\": "},
      {"PNG cut after its header", "@/header-only.png", "cannot read \"@/header-only.png\": "},
      {"damaged PNG pixel data", "@/damaged.png", "cannot read \"@/damaged.png\": "},
      {"zero-width PNG", "@/zero-width.png", "cannot read \"@/zero-width.png\": "},
      {"EXR with an inverted data window", "@/inverted-window.exr", "\"@/inverted-window.exr\""},
      {"one-channel image", "@/grey.png",
       "layer (plain) of \"@/grey.png\" has 1 channel (Y); three are needed"},
      {"PNG claiming 30000x30000", "@/huge.png",
       "\"@/huge.png\" claims 30000x30000 pixels, more than the limit of 268435456; raise it with "
       "--max-pixels"},
      // The header alone is patched, so the library already misses the larger offset table it implies.
      {"EXR claiming 100000x100000", "@/huge.exr", "\"@/huge.exr\""},
      {"limit lowered below the input",
       "@/small.exr",
       "\"@/small.exr\" claims 4x4 pixels, more than the limit of 15",
       {"--max-pixels", "15"}},
      {"limit not a number", "@/small.exr", "--max-pixels", {"--max-pixels", "lots"}},
      {"limit zero", "@/small.exr", "--max-pixels", {"--max-pixels", "0"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"render", "--normal", expand(c.input), "-o", dir / "out.exr"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult r = run_quorlen(args, scratch);
    EXPECT_EQ(r.code, 1) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("quorlen: error: ", 0), 0u) << c.name << ": " << r.err;
    EXPECT_TRUE(contains(r.err, expand(c.message)))
        << c.name << ":\n  got      " << r.err << "  expected " << expand(c.message);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    EXPECT_EQ(dir.files(), before) << c.name << ": a file was left behind";
  }
}

// Small files whose headers claim enormous images, as damaged files do: each costs what its bytes hold.
// The child runs under a CPU-time and address-space limit, so paying what a header claims would fail.
#if defined(__SANITIZE_ADDRESS__)
const char* const kSmallBudget = "";  // the checker reserves terabytes and runs several times slower
#else
const char* const kSmallBudget = "ulimit -t 2; ulimit -v 1048576;";
#endif

TEST_F(HostileInput, SmallFilesClaimingHugeImagesCostWhatTheyHold) {
  struct Case {
    const char* compression;
    OIIO::TypeDesc type;
    int width, height;  // what the header is made to claim
    const char* refusal;
  };
  const Case cases[] = {
      {"zip", OIIO::TypeFloat, 83886081, 1, "damaged: its header declares 83886081 x 1 pixels"},
      {"none", OIIO::TypeFloat, 100663297, 1, "damaged: its header declares 100663297 x 1 pixels"},
      {"zip", OIIO::TypeFloat, 1000000, 1, "damaged: its header declares 1000000 x 1 pixels"},
      {"piz", OIIO::TypeFloat, 525341, 59, "damaged: its header declares 525341 x 59 pixels"},
      {"piz", OIIO::TypeHalf, 525341, 59, "damaged: its header declares 525341 x 59 pixels"},
      {"dwab", OIIO::TypeFloat, 525341, 59, "damaged: its header declares 525341 x 59 pixels"},
      {"dwaa", OIIO::TypeHalf, 525341, 59, "damaged: its header declares 525341 x 59 pixels"},
      {"rle", OIIO::TypeHalf, 65536, 59, "damaged: its header declares 65536 x 59 pixels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.compression << " " << c.width << "x" << c.height);
    // Written with the claimed height, so the block table is the length such a header expects.
    const std::string made = dir / "made.exr", claimed = dir / "claimed.exr";
    OIIO::ImageSpec layout(4, c.height, 3, c.type);
    layout.attribute("compression", c.compression);
    const std::vector<float> zeros(static_cast<std::size_t>(4 * c.height * 3), 0.0f);
    auto file = OIIO::ImageOutput::create(made);
    ASSERT_TRUE(file && file->open(made, layout) && file->write_image(OIIO::TypeFloat, zeros.data()) &&
                file->close());
    write_bytes(claimed, exr_with_data_window(slurp(made), 0, 0, c.width - 1, c.height - 1));
    ASSERT_LT(slurp(claimed).size(), 4096u);
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--dry-run"}}) {
      std::vector<std::string> args{"render", "--normal", claimed, "--color", claimed, "-o", dir / "out.exr"};
      args.insert(args.end(), extra.begin(), extra.end());
      const RunResult r = run_quorlen(args, scratch, kSmallBudget);
      EXPECT_EQ(r.code, 1) << r.err;
      EXPECT_EQ(r.err.find("quorlen: error: cannot read \"" + claimed + "\": " + c.refusal), 0u) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_FALSE(fs::exists(dir / "out.exr"));
    }
  }
#if !defined(__SANITIZE_ADDRESS__)
  // The largest child so far: every one of them stayed small.
  rusage usage{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 256L * 1024) << "kilobytes";
#endif
}

TEST_F(HostileInput, AFrameWhoseBandsWouldNotFitTheMemoryLimitIsRefusedBeforeReading) {
  // Genuine, but wide: one line of 300000 pixels takes 12 MiB in every band once read, rendered and written.
  const std::string wide = dir / "wide.exr";
  write_image(wide, 300000, 2, {constant_layer({"R", "G", "B"}, {0, 0, -1}, 300000, 2)});
  for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--dry-run"}}) {
    std::vector<std::string> args{"render", "--normal", wide, "-o", dir / "out.exr", "--max-memory", "8"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = run_quorlen(args, scratch);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err.find("quorlen: error: \"" + wide + "\" is 300000 pixels wide: streaming it needs about "),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("more than the limit of 8 MiB; raise --max-memory if the file is genuine\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.exr"));
  }
  EXPECT_EQ(
      run_quorlen({"render", "--normal", wide, "-o", dir / "out.exr", "--max-memory", "64"}, scratch).code,
      0);
}

TEST_F(HostileInput, AnInputExactlyAtTheLimitIsRendered) {
  const RunResult r = run_quorlen(
      {"render", "--normal", dir / "small.exr", "-o", dir / "out.exr", "--max-pixels", "16"}, scratch);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(read_image(dir / "out.exr").spec.width, 4);
}

TEST_F(HostileInput, DamagedZipChunksAreRefusedNamingTheInput) {
  // 64 x 64 float RGB in four 16-line zip chunks of 12288 unpacked bytes each, smooth enough to shrink.
  const TempDir zips;
  std::vector<std::array<float, 3>> ramp;
  for (int i = 0; i < 64 * 64; ++i)
    ramp.push_back({static_cast<float>(i % 64) / 64, static_cast<float>(i / 64), 1});
  write_image(zips / "good.exr", 64, 64, {pixels_layer({"R", "G", "B"}, ramp)});
  const ExrChunks good = split_chunks(slurp(zips / "good.exr"), 4);
  ASSERT_EQ(good.chunks.size(), 4u);
  ASSERT_LT(good.chunks[1].second.size(), 12288u) << "the chunks must be compressed for this test";
  ASSERT_EQ(join_chunks(good), slurp(zips / "good.exr"));

  const auto with_chunk = [&](std::size_t k, std::string bytes) {
    ExrChunks c = good;
    c.chunks[k].second = std::move(bytes);
    return join_chunks(c);
  };
  std::string corrupt = good.chunks[1].second;
  for (std::size_t i = 4; i < corrupt.size(); i += 5) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x6D);
  // What each case's one line must say after the file's name.
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"corrupt-stream", with_chunk(1, corrupt), "line 16: a zip chunk's compressed stream is corrupt"},
      {"inflates-past", with_chunk(0, zlib_zeros(2 * 12288)),
       "line 0: a zip chunk inflates past its 12288 bytes"},
      {"inflates-short", with_chunk(2, zlib_zeros(12288 / 2)),
       "line 32: a zip chunk inflates to 6144 bytes, not 12288"},
      {"larger-than-unpacked", with_chunk(0, std::string(12288 + 16, 'x')), "the zip chunk of line 0: "},
      {"length-past-end",
       join_chunks(good,
                   [](std::size_t k, std::size_t size) {
                     return k == 3 ? 0x7FFFFFF0u : static_cast<std::uint32_t>(size);
                   }),
       "the zip chunk of line 48: "},
      {"length-too-short",
       join_chunks(good,
                   [](std::size_t k, std::size_t size) {
                     return static_cast<std::uint32_t>(k == 0 ? size / 2 : size);
                   }),
       "line 0: "},
  };
  for (const auto& [name, bytes, message] : cases) {
    const std::string file = zips / (std::string(name) + ".exr");
    write_bytes(file, bytes);
    const RunResult r = run_quorlen({"render", "--normal", file, "-o", zips / "out.exr"}, scratch);
    EXPECT_EQ(r.code, 1) << name << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("quorlen: error: cannot read \"" + file + "\": " + message, 0), 0u)
        << name << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << ": " << r.err;
    EXPECT_FALSE(fs::exists(zips / "out.exr")) << name;
  }

  // An offset table that points nowhere, over intact chunks, is rebuilt from the chunks (as OpenEXR does).
  std::string far_table = join_chunks(good);
  far_table.replace(good.head.size(), 8, std::string("\0\0\0\0\0\x01\0\0", 8));
  write_bytes(zips / "table-past-end.exr", far_table);
  for (const char* file : {"good.exr", "table-past-end.exr"}) {
    const RunResult r = run_quorlen({"render", "-q", "--set", "outputType=light", "--normal", zips / file,
                                     "-o", zips / (std::string("out-") + file)},
                                    scratch);
    ASSERT_EQ(r.code, 0) << file << ": " << r.err;
  }
  EXPECT_EQ(read_image(zips / "out-table-past-end.exr").pixels, read_image(zips / "out-good.exr").pixels);
}

TEST_F(HostileInput, NonFinitePixelsAreRenderedWithoutTouchingTheirNeighbours) {
  // Row 0 holds NaN, +inf, -inf and -0 in both colour and normal; row 1 is the same finite pixel throughout.
  const std::array<float, 3> good_normal{0.3f, 0.4f, -0.8f}, good_color{0.5f, 0.25f, 1.0f};
  const std::vector<std::array<float, 3>> normals{{kNaN, 0, -1},         {kInf, kInf, kInf}, {-kInf, 0, 0},
                                                  {-0.0f, -0.0f, -0.0f}, good_normal,        good_normal,
                                                  good_normal,           good_normal};
  const std::vector<std::array<float, 3>> colors{{kNaN, kNaN, kNaN}, {kInf, 1, 1}, {1, -kInf, 1},
                                                 {-0.0f, 0, 0},      good_color,   good_color,
                                                 good_color,         good_color};
  write_image(dir / "n.exr", 4, 2, {pixels_layer({"R", "G", "B"}, normals)});
  write_image(dir / "c.exr", 4, 2, {pixels_layer({"R", "G", "B"}, colors)});
  write_image(dir / "n-good.exr", 4, 2,
              {constant_layer({"R", "G", "B"}, {good_normal[0], good_normal[1], good_normal[2]}, 4, 2)});
  write_image(dir / "c-good.exr", 4, 2,
              {constant_layer({"R", "G", "B"}, {good_color[0], good_color[1], good_color[2]}, 4, 2)});

  const std::vector<std::vector<std::string>> settings{
      {},
      {"--set", "lightType=point", "--set", "pointLightFalloff=2", "--set", "_surfaceSpecular=1,1,1"},
      {"--set", "surfaceNoise=on", "--set", "surfaceNoiseType=turbulence1"},
      {"--set", "surfaceNoise=on", "--set", "surfaceNoiseType=snoise", "--set", "outputType=light"}};
  for (const auto& set : settings) {
    std::string label;
    for (const auto& s : set) label += s + " ";
    for (const char* ext : {".exr", ".png"}) {
      std::vector<std::string> bad{"render",
                                   "--color",
                                   dir / "c.exr",
                                   "--normal",
                                   dir / "n.exr",
                                   "--P",
                                   dir / "n.exr",
                                   "--noiseP",
                                   dir / "n.exr",
                                   "-o",
                                   dir / (std::string("bad") + ext)};
      std::vector<std::string> good{"render",
                                    "--color",
                                    dir / "c-good.exr",
                                    "--normal",
                                    dir / "n-good.exr",
                                    "--P",
                                    dir / "n-good.exr",
                                    "--noiseP",
                                    dir / "n-good.exr",
                                    "-o",
                                    dir / (std::string("good") + ext)};
      bad.insert(bad.end(), set.begin(), set.end());
      good.insert(good.end(), set.begin(), set.end());
      const RunResult rb = run_quorlen(bad, scratch);
      const RunResult rg = run_quorlen(good, scratch);
      ASSERT_EQ(rb.code, 0) << label << ext << "\n" << rb.err;
      ASSERT_EQ(rg.code, 0) << label << ext << "\n" << rg.err;
      const ReadImage b = read_image(dir / (std::string("bad") + ext));
      const ReadImage g = read_image(dir / (std::string("good") + ext));
      ASSERT_EQ(b.spec.width, 4);
      ASSERT_EQ(b.spec.height, 2);
      for (int x = 0; x < 4; ++x)
        for (int c = 0; c < b.spec.nchannels; ++c)
          EXPECT_EQ(
              std::memcmp(&b.pixels[static_cast<std::size_t>((4 + x) * b.spec.nchannels + c)],
                          &g.pixels[static_cast<std::size_t>((4 + x) * g.spec.nchannels + c)], sizeof(float)),
              0)
              << label << ext << " pixel (" << x << ", 1) channel " << c;
    }
  }
}

}  // namespace
