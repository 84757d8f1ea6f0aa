/// \file contact_sheet.h  One picture of several previews, each labelled below.
#pragma once

#include <string>
#include <vector>

namespace quorlen::app {

/// A preview and the label written under it.
struct SheetEntry {
  std::string image;
  std::string label;
};

/// Lays the previews out in `columns` columns on a dark background, labels each, and writes the sheet to
/// `path` (written beside it and renamed into place). Labels use a TrueType font when OpenImageIO finds
/// one, else the built-in bitmap font; a missing font never fails the sheet. Throws an output error when a
/// preview cannot be read or the sheet cannot be written.
void write_contact_sheet(const std::vector<SheetEntry>& entries, const std::string& path, int columns);

}  // namespace quorlen::app
