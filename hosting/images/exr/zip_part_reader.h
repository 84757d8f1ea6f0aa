/// \file zip_part_reader.h  Scanline ZIP and ZIPS parts read chunk by chunk through OpenEXR's C core and
/// inflated with libdeflate, the chunks of a band in parallel.
#pragma once

#include <OpenEXR/ImfHeader.h>

#include <memory>
#include <string>
#include <vector>

#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// Whether a part's chunks can be read by ZipPartReader: scanline, not deep, ZIP or ZIPS, no subsampled
/// channels. Other parts go through OpenEXR's own decoding.
bool zip_readable(const Imf::Header& header);

/// One open file's zip parts. Safe to read from one thread at a time; the chunks of one read are decoded in
/// parallel.
class ZipPartReader {
 public:
  /// Opens `path`; throws codec_error when OpenEXR's C core cannot.
  explicit ZipPartReader(const std::string& path);
  ~ZipPartReader();
  ZipPartReader(const ZipPartReader&) = delete;
  ZipPartReader& operator=(const ZipPartReader&) = delete;

  /// As ImageDecoder::read, for a zip_readable part: `channels` are the names to read, in the order they
  /// land in each pixel. Throws codec_error naming what is wrong with a damaged chunk.
  void read(int part, const Imf::Header& header, const std::vector<std::string>& channels, int y_begin,
            int y_end, float* dst, std::ptrdiff_t xstride, std::ptrdiff_t ystride);

 private:
  struct Core;
  std::unique_ptr<Core> core_;
};

}  // namespace quorlen::hosting
