// The text of `--frames A-B[xSTEP]`, `FILE:LAYER` and frame patterns in paths. The input is split at the
// first newline: a frame range, then a path.
#include <quorlen/errors.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "hosting/frames/frame_pattern.h"
#include "hosting/images/input_spec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = text.find('\n');
  const std::string_view range_text = text.substr(0, newline);
  const std::string_view path =
      newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
  try {
    const quorlen::hosting::FrameRange range = quorlen::hosting::parse_frame_range(range_text);
    const auto frames = range.frames();
    if (frames.empty() || frames.front() != range.first || frames.back() > range.last) __builtin_trap();
    if (quorlen::hosting::has_frame_pattern(path)) {
      (void)quorlen::hosting::substitute_frame(path, frames.front());
      (void)quorlen::hosting::substitute_frame(path, frames.back());
    }
  } catch (const quorlen::hosting::Error&) {
  }
  // "Files" exist when their name has an even length, so both readings of a colon are reached.
  try {
    const auto spec =
        quorlen::hosting::parse_input_spec(path, [](const std::string& p) { return p.size() % 2 == 0; });
    if (spec.file.empty()) __builtin_trap();
  } catch (const quorlen::hosting::Error&) {
  }
  return 0;
}
