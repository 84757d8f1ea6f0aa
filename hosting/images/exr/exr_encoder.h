/// \file exr_encoder.h  Writing float EXR files with OpenEXR itself.
#pragma once

#include <memory>
#include <string>

#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// True when `path` names an EXR file by its extension.
bool has_exr_extension(const std::string& path);

/// Creates `file` as a single-part, scanline, zip-compressed float EXR with `spec`'s windows and channels;
/// encoding happens in the calling thread. Throws codec_error.
std::unique_ptr<ImageEncoder> create_exr(const std::string& file, const EncoderSpec& spec);

}  // namespace quorlen::hosting
