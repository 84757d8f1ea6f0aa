/// \file oiio_contact_sheet.h  The contact sheet drawn with OpenImageIO's image buffers.
#pragma once

#include <string>
#include <vector>

namespace quorlen::app {

/// Lays `previews` out in `columns` columns on a dark background with `labels` below them and writes the
/// sheet to `file` in the format of `path`. Labels use a TrueType font when OpenImageIO finds one, else the
/// built-in bitmap font. Throws codec_error.
void compose_contact_sheet(const std::vector<std::string>& previews, const std::vector<std::string>& labels,
                           int columns, const std::string& path, const std::string& file);

}  // namespace quorlen::app
