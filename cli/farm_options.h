/// \file farm_options.h  The render options a farm task uses: its chunk of the frame list, and the progress
/// format its log parser reads.
#pragma once

#include <quorlen/render.h>

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace quorlen::cli {

/// The words --progress-format takes.
inline constexpr const char* kProgressFormats[] = {"auto", "bar", "lines", "percent", "openjd"};

struct FarmOptions {
  std::optional<int> chunk_size;
  std::optional<int> chunk_index;
  std::string progress_format = "auto";

  /// Declares --chunk-size, --chunk-index and --progress-format on `render`.
  void add_to(CLI::App& render);
  /// Narrows the request's frames to the chosen chunk; throws a usage error for a chunk without --frames,
  /// one of the two options without the other, or an index past the last chunk.
  void apply(hosting::RenderRequest& request) const;
};

}  // namespace quorlen::cli
