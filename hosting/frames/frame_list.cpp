/// \file frame_list.cpp  Comma-separated frame lists.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>

#include <string>
#include <unordered_set>

#include "hosting/frames/frame_pattern.h"

namespace quorlen::hosting {

FrameList parse_frame_list(std::string_view text) {
  const auto bad = [&](std::string_view why) {
    return usage_error(
        fmt::format("--frames \"{}\": {} (expected frames and ranges such as 1,3,5-10,20-30x2)", text, why));
  };
  if (text.empty()) throw bad("the list is empty");
  FrameList list;
  std::unordered_set<int> seen;
  long long count = 0;
  std::string_view rest = text;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    if (item.empty()) throw bad("an item between commas is empty");
    // Open Job Description writes the step after a colon ("7-20:2"); oiiotool after an x.
    std::string spelled(item);
    if (const std::size_t colon = spelled.find(':');
        colon != std::string::npos && spelled.find('x') == std::string::npos)
      spelled[colon] = 'x';
    FrameRange range;
    try {
      range = parse_frame_range(spelled);
    } catch (const Error&) {
      // A list of one item keeps the range's own message; an item of several is named within its list.
      if (comma == std::string_view::npos && list.numbers.empty() && rest == text && spelled == item) throw;
      throw bad(
          fmt::format("item \"{}\" is not a frame or range A-B[xSTEP] with A <= B and STEP >= 1", item));
    }
    count += (static_cast<long long>(range.last) - range.first) / range.step + 1;
    if (count > kMaxFrames)
      throw bad(fmt::format("more than {} frames; split the list over several runs", kMaxFrames));
    for (const int f : range.frames())
      if (seen.insert(f).second) list.numbers.push_back(f);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return list;
}

}  // namespace quorlen::hosting
