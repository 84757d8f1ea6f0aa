/// \file frames.h  Frame lists as pipelines write them: numbers and ranges joined by commas.
#pragma once

#include <string_view>
#include <vector>

namespace quorlen::hosting {

/// The frames of one `--frames` list, in the order given, each once.
struct FrameList {
  std::vector<int> numbers;

  /// The frames to render, in order.
  const std::vector<int>& frames() const { return numbers; }
};

/// Parses "1,3,5-10,20-30x2": items separated by commas, each a frame range as parse_frame_range takes it;
/// the step may also follow a colon ("20-30:2").
/// A frame named again by a later item is rendered once, where it first appears. Throws a usage error naming
/// the list and the item, also when the list holds more than kMaxFrames frames.
FrameList parse_frame_list(std::string_view text);

}  // namespace quorlen::hosting
