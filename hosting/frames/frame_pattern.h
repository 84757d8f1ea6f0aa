/// \file frame_pattern.h  Frame ranges (`A-B[xSTEP]`) and frame-number patterns in paths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlen::hosting {

/// An inclusive range of frames with a positive step.
struct FrameRange {
  int first = 1;
  int last = 1;
  int step = 1;

  /// The frames first, first + step, ... up to last.
  std::vector<int> frames() const;
};

/// Most frames one run renders; the list of frames is built up front, so a range is bounded.
inline constexpr long long kMaxFrames = 1'000'000;

/// Parses "A", "A-B" or "A-BxSTEP" (A and B may be negative, STEP is at least 1, A <= B, at most kMaxFrames
/// frames). Throws a usage error naming the text otherwise.
FrameRange parse_frame_range(std::string_view text);

/// Whether the path holds a frame pattern: a run of '#', "%d" or "%0Nd".
bool has_frame_pattern(std::string_view path);

/// The path with every pattern replaced by the frame number: a run of N '#' pads to N digits, "%0Nd" pads
/// to N digits, "%d" does not pad. A negative frame keeps its sign in front of the padded digits.
std::string substitute_frame(std::string_view path, int frame);

}  // namespace quorlen::hosting
