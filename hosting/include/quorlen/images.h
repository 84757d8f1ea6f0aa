/// \file images.h  Image files for front ends that hold pixels themselves: a layer read whole, the layers a
/// file has, images written whole, a rendered frame written as a render job writes it.
#pragma once

#include <quorlen/inputs.h>
#include <quorlen/output.h>
#include <quorlen/preview.h>

#include <string>
#include <vector>

#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

/// Layer `layer` of `path` ("" for the plain R, G, B) read whole as red, green and blue over its data
/// window. Throws an input error naming the file and, for a missing layer, the layers it has.
DD::Image::ImageBuffer read_layer(const std::string& path, const std::string& layer = "",
                                  long long max_pixels = kDefaultMaxPixels);

/// The names of `path`'s layers, "" for the plain channels; throws an input error.
std::vector<std::string> layer_names(const std::string& path);

/// Writes float samples of `channels` (interleaved, lines in order over `geometry.data`) to `path`, whole or
/// not at all: for images a front end makes itself. Throws a usage error for an unknown format and an
/// output error when writing fails.
void write_channels(const std::string& path, const ImageGeometry& geometry,
                    const std::vector<std::string>& channels, const std::vector<float>& samples);

/// Writes an 8-bit preview (its codes as they are) to `path` in an 8-bit format such as PNG, whole or not at
/// all. Throws as write_channels().
void write_preview(const std::string& path, const Preview& preview);

/// Throws a usage error when no writer knows `path`'s extension or its format cannot hold `options`.
void check_output_path(const std::string& path, const OutputOptions& options = {});

/// Writes a rendered frame (R, G, B, A lines covering `geometry.data`) to `path` as a render job does: the
/// format chosen by the extension, written beside it and renamed into place. Throws a usage error for an
/// unknown format and an output error when writing fails.
void write_image(const std::string& path, const ImageGeometry& geometry, const DD::Image::ImageBuffer& rgba);
/// The same with the sample type, compression and colour `options` as `quorlen render` takes them: float
/// outputs in their colour space, 8-bit and 16-bit ones through their display, view and look.
void write_image(const std::string& path, const ImageGeometry& geometry, const DD::Image::ImageBuffer& rgba,
                 const OutputOptions& options);

}  // namespace quorlen::hosting
