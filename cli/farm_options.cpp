/// \file farm_options.cpp  --chunk-size, --chunk-index and --progress-format.
#include "cli/farm_options.h"

#include <quorlen/errors.h>
#include <quorlen/frames.h>

#include <climits>
#include <vector>

#include "cli/arguments.h"
#include "text/strings.h"

namespace quorlen::cli {

void FarmOptions::add_to(CLI::App& render) {
  render
      .add_option("--chunk-size", chunk_size,
                  "Cut the --frames list into chunks of this many frames (with --chunk-index)")
      ->type_name("K")
      ->check(whole_number(1, INT_MAX));
  render
      .add_option("--chunk-index", chunk_index,
                  "Render only the I-th chunk (from 0) of the --frames list, as a farm's array task does")
      ->type_name("I")
      ->check(whole_number(0, INT_MAX));
  const std::vector<std::string> words(std::begin(kProgressFormats), std::end(kProgressFormats));
  render
      .add_option_function<std::string>(
          "--progress-format", [this](const std::string& word) { progress_format = text::lower(word); },
          "Progress: auto (a bar on a terminal, else one line per frame), bar, lines, percent "
          "('Progress: P%' on stdout) or openjd ('openjd_progress: P' on stdout)")
      ->type_name(text::join(words, "|"))
      ->check(CLI::IsMember(words, CLI::ignore_case).description(""));
}

void FarmOptions::apply(hosting::RenderRequest& request) const {
  if (!chunk_size && !chunk_index) return;
  if (!chunk_size)
    throw hosting::usage_error("--chunk-index needs --chunk-size (how many frames a chunk holds)");
  if (!chunk_index)
    throw hosting::usage_error("--chunk-size needs --chunk-index (which chunk to render, from 0)");
  if (!request.frames)
    throw hosting::usage_error("--chunk-size and --chunk-index cut a --frames list; give --frames");
  request.frames = hosting::frame_chunk(*request.frames, *chunk_size, *chunk_index);
}

}  // namespace quorlen::cli
