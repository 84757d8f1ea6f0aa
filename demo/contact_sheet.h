/// \file contact_sheet.h  One picture of several previews, each labelled below.
#pragma once

#include <string>
#include <vector>

namespace quorlen::demo {

/// A preview and the label written under it.
struct SheetEntry {
  std::string image;
  std::string label;
};

/// Lays the previews out in `columns` columns on a dark background, labels each with the built-in font,
/// and writes the sheet, 8-bit, to `path` (written beside it and renamed into place). The previews' codes
/// are stored as they are. Throws an output error when a preview cannot be read or the sheet cannot be
/// written.
void write_contact_sheet(const std::vector<SheetEntry>& entries, const std::string& path, int columns);

}  // namespace quorlen::demo
