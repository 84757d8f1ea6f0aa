// The zip chunk coding on its own: bytes survive packing and unpacking at every length and kind of content,
// chunks that do not shrink are stored as they are, and damaged chunks are reported, never over-read.
#include "hosting/images/exr/zip_chunks.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace quorlen::hosting;
using Bytes = std::vector<std::uint8_t>;

Bytes noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  return b;
}

// Slowly varying 16-bit values, as smooth image samples are: the predictor makes them compress.
Bytes smooth(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i % 2 ? (i / 200) : (i * 3 / 2));
  return b;
}

Bytes zlib(const Bytes& raw) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  Bytes out(libdeflate_zlib_compress_bound(c, raw.size()));
  out.resize(libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

TEST(ZipChunks, BytesSurvivePackingAtEveryLengthAndKindOfContent) {
  ZipPacker packer;
  ZipUnpacker unpacker;
  for (const std::size_t n : {1u, 2u, 3u, 7u, 64u, 1001u, 65536u, 65537u, 400000u}) {
    for (const Bytes& raw : {noise(n, static_cast<unsigned>(n)), smooth(n), Bytes(n, 0x5A)}) {
      const Bytes packed = packer.pack(raw.data(), raw.size());
      EXPECT_LE(packed.size(), raw.size()) << n;
      Bytes back(n, 0xEE);
      const std::string problem = unpacker.unpack(packed.data(), packed.size(), back.data(), n);
      ASSERT_EQ(problem, "") << n;
      ASSERT_EQ(back, raw) << n;
    }
  }
  // Smooth content is what the predictor is for: it must shrink a great deal; noise is stored as it is.
  const Bytes s = smooth(65536);
  EXPECT_LT(packer.pack(s.data(), s.size()).size(), s.size() / 10);
  const Bytes r = noise(65536, 1);
  EXPECT_EQ(packer.pack(r.data(), r.size()), r);
}

TEST(ZipChunks, DamagedChunksAreReportedWithoutWritingPastTheirLines) {
  ZipPacker packer;
  ZipUnpacker unpacker;
  const std::size_t n = 4096;
  const Bytes raw = smooth(n);
  const Bytes packed = packer.pack(raw.data(), raw.size());
  ASSERT_LT(packed.size(), n);

  // One guard byte past the lines: nothing may land there.
  Bytes out(n + 1, 0xEE);
  const auto unpack = [&](const Bytes& chunk, std::size_t size = 4096) {
    out.assign(size + 1, 0xEE);
    const std::string problem = unpacker.unpack(chunk.data(), chunk.size(), out.data(), size);
    EXPECT_EQ(out[size], 0xEE) << "written past the chunk's lines";
    return problem;
  };

  Bytes corrupt = packed;
  for (std::size_t i = 2; i < corrupt.size(); i += 3) corrupt[i] ^= 0x5B;
  EXPECT_NE(unpack(corrupt), "");
  EXPECT_NE(unpack(Bytes(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packed.size() / 2))),
            "");
  EXPECT_NE(unpack(Bytes(packed.begin(), packed.begin() + 1)), "");
  EXPECT_NE(unpack(Bytes{}), "");

  const std::string past = unpack(zlib(Bytes(2 * n, 0)));
  EXPECT_NE(past.find("inflates past"), std::string::npos) << past;
  const std::string short_one = unpack(zlib(Bytes(n / 2, 0)));
  EXPECT_NE(short_one.find("inflates to 2048 bytes, not 4096"), std::string::npos) << short_one;

  const std::string larger = unpack(Bytes(n + 1, 0), n);
  EXPECT_NE(larger.find("larger than"), std::string::npos) << larger;
  // A chunk exactly its unpacked size is the format's way of storing it as is.
  EXPECT_EQ(unpack(raw), "");
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), out.begin()));
}

}  // namespace
