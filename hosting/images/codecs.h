/// \file codecs.h  Which library reads or writes a file, and loading the image library module.
#pragma once

#include <quorlen/module.h>

#include <memory>
#include <string>

#include "hosting/images/image_codec.h"

namespace quorlen::hosting {

/// Opens `path` for reading: EXR files (by their magic number) with OpenEXR, others with the module.
/// Throws codec_error.
std::unique_ptr<ImageDecoder> open_image(const std::string& path);

/// The format a file named `path` is written in ("openexr", "png", ...), "" when none is known.
std::string output_format(const std::string& path);

/// Creates `file` in the format `path` names: EXR with OpenEXR, others with the module. Throws codec_error.
std::unique_ptr<ImageEncoder> create_image(const std::string& path, const std::string& file,
                                           const EncoderSpec& spec);

/// The image library module, loaded on first use (once, whichever thread asks). Throws codec_error when it
/// cannot be found or loaded.
const ImageLibrary& image_library();

/// Threads the module's library may use of its own (0: its choice); applied now or when it loads.
void set_library_threads(int threads);

/// The file name of the module. It is looked for in lib/quorlen beside the installed command, then in the
/// build tree; QUORLEN_IMAGE_MODULE, when set, names the one file to load instead.
inline constexpr const char* kImageModuleFileName = "quorlen_images.so";

}  // namespace quorlen::hosting
