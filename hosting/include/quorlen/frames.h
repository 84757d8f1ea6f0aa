/// \file frames.h  Frame lists as pipelines write them: numbers and ranges joined by commas.
#pragma once

#include <string>
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

/// How many chunks of `chunk_size` frames (the last may be shorter) `list` makes; throws a usage error for a
/// chunk size below 1.
int chunk_count(const FrameList& list, int chunk_size);

/// The `index`-th chunk (from 0) of `list`: its frames from index * chunk_size on, in the list's order, so a
/// farm's array task needs no arithmetic of its own. Throws a usage error naming the number of chunks when
/// `index` is past the end or negative.
FrameList frame_chunk(const FrameList& list, int chunk_size, int index);

/// The frames in a short form for messages: runs of consecutive frames as A-B ("1001-1010,1015").
std::string describe_frames(const std::vector<int>& frames);

}  // namespace quorlen::hosting
