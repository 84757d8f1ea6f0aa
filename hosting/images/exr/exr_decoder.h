/// \file exr_decoder.h  Reading EXR files with OpenEXR itself: parts, channels, float lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// True when the file starts with the EXR magic number.
bool is_exr_file(const std::string& path);

/// Who inflates ZIP and ZIPS chunks: libdeflate, the chunks of a read in parallel, or OpenEXR itself (zlib,
/// in the calling thread), kept to compare against.
enum class ZipDecoding { libdeflate, openexr };

/// Opens an EXR file; throws codec_error when it cannot be read. Parts of other compressions are decoded
/// by OpenEXR in the calling thread.
std::unique_ptr<ImageDecoder> open_exr(const std::string& path, ZipDecoding zip = ZipDecoding::libdeflate);

/// The order channels are presented in: the plain channels first, then each layer in name order; within a
/// layer red, green, blue and alpha (by name) first, the rest as stored. Exposed for tests.
std::vector<std::string> presented_channel_order(std::vector<std::string> stored);

}  // namespace quorlen::hosting
