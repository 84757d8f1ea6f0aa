/// \file exr_decoder.h  Reading EXR files with OpenEXR itself: parts, channels, float lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// True when the file starts with the EXR magic number.
bool is_exr_file(const std::string& path);

/// Opens an EXR file; throws codec_error when it cannot be read. Decoding happens in the calling thread.
std::unique_ptr<ImageDecoder> open_exr(const std::string& path);

/// The order channels are presented in: the plain channels first, then each layer in name order; within a
/// layer red, green, blue and alpha (by name) first, the rest as stored. Exposed for tests.
std::vector<std::string> presented_channel_order(std::vector<std::string> stored);

}  // namespace quorlen::hosting
