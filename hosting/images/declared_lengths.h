/// \file declared_lengths.h  Lengths a file's headers declare, checked against the bytes it holds.
///
/// OpenEXR allocates (and tries to fill) an attribute's declared length, and libpng a chunk's, before
/// either notices the file is too short, so a few damaged bytes could claim gigabytes. These walks come
/// first and refuse such files at once.
#pragma once

#include <string>

namespace quorlen::hosting {

/// The first attribute of an EXR file's headers that claims more bytes than follow it, as a message; ""
/// when every length fits or the file is not well-formed enough to tell (the library then says why).
std::string exr_header_problem(const std::string& path);

/// The same for the chunks of a PNG file; "" when every length fits or the file is not a PNG.
std::string png_chunks_problem(const std::string& path);

}  // namespace quorlen::hosting
