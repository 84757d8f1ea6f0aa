/// \file contact_sheet.cpp  The contact sheet, composed by the image library module.
#include "app/contact_sheet.h"

#include <fmt/format.h>

#include "app/atomic_file.h"
#include "app/errors.h"
#include "app/image_codecs.h"

namespace quorlen::app {

void write_contact_sheet(const std::vector<SheetEntry>& entries, const std::string& path, int columns) {
  if (entries.empty()) return;
  std::vector<std::string> previews, labels;
  for (const auto& e : entries) {
    previews.push_back(e.image);
    labels.push_back(e.label);
  }
  const ImageLibrary& library = image_library();
  AtomicFile file(path);
  try {
    library.write_contact_sheet(previews, labels, columns, path, file.temp_path());
  } catch (const codec_error& e) {
    throw output_error(fmt::format("cannot write contact sheet \"{}\": {}", path, e.what()));
  }
  file.commit();
}

}  // namespace quorlen::app
