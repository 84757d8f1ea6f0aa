/// \file exr_encoder.h  Writing float EXR files with OpenEXR itself.
#pragma once

#include <memory>
#include <string>

#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// True when `path` names an EXR file by its extension.
bool has_exr_extension(const std::string& path);

/// Who deflates ZIP and ZIPS chunks: libdeflate, the chunks of a write in parallel, or OpenEXR itself (zlib,
/// in the calling thread), kept to compare against.
enum class ZipEncoding { libdeflate, openexr };

/// Creates `file` as a single-part, scanline float EXR (zip-compressed unless `layout` names another) with
/// `layout`'s windows and channels. Compressions other than ZIP and ZIPS are encoded by OpenEXR in the
/// calling thread. Throws codec_error.
std::unique_ptr<ImageEncoder> create_exr(const std::string& file, const EncoderSpec& layout,
                                         ZipEncoding zip = ZipEncoding::libdeflate);

}  // namespace quorlen::hosting
