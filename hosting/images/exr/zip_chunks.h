/// \file zip_chunks.h  EXR's ZIP and ZIPS chunk coding with libdeflate: the byte reordering and predictor
/// the format applies before deflate, and their inverse after inflate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quorlen::hosting {

/// The zlib level a file's chunks are compressed at: the fastest of libdeflate's levels whose files are no
/// larger than zlib's default level gives (measured in docs/performance.md).
inline constexpr int kZipLevel = 4;

/// Compresses one chunk's unpacked bytes. Reusable across chunks; one per thread.
class ZipPacker {
 public:
  explicit ZipPacker(int level = kZipLevel);
  ~ZipPacker();
  ZipPacker(const ZipPacker&) = delete;
  ZipPacker& operator=(const ZipPacker&) = delete;

  /// The chunk as stored: `raw` reordered, predicted and deflated in zlib's format, or `raw` itself when
  /// that would not be smaller (the format stores such a chunk unpacked). The view stays valid until the
  /// next call.
  const std::vector<std::uint8_t>& pack(const std::uint8_t* raw, std::size_t size);
  /// The same, stored into `out`, which a caller keeping every chunk of a band then owns without a copy.
  void pack_into(const std::uint8_t* raw, std::size_t size, std::vector<std::uint8_t>& out);

 private:
  struct Compressor;
  std::unique_ptr<Compressor> compressor_;
  std::vector<std::uint8_t> reordered_;
  std::vector<std::uint8_t> packed_;
};

/// Decompresses one chunk into exactly `unpacked_size` bytes. Reusable across chunks; one per thread.
class ZipUnpacker {
 public:
  ZipUnpacker();
  ~ZipUnpacker();
  ZipUnpacker(const ZipUnpacker&) = delete;
  ZipUnpacker& operator=(const ZipUnpacker&) = delete;

  /// Writes the chunk's unpacked bytes to `out`. A chunk as large as its unpacked size is stored as is.
  /// Returns "" or what is wrong with the chunk: a stream that is corrupt, ends short or inflates past
  /// `unpacked_size`, or a chunk larger than its unpacked size.
  std::string unpack(const std::uint8_t* packed, std::size_t packed_size, std::uint8_t* out,
                     std::size_t unpacked_size);

 private:
  struct Decompressor;
  std::unique_ptr<Decompressor> decompressor_;
  std::vector<std::uint8_t> inflated_;
};

}  // namespace quorlen::hosting
