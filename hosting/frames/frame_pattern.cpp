/// \file frame_pattern.cpp  Frame ranges and frame-number patterns in paths.
#include "hosting/frames/frame_pattern.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

#include <charconv>
#include <cstdlib>
#include <optional>

namespace quorlen::hosting {
namespace {

// Length of a "%d" or "%0Nd" pattern at `at` and its padding, or nullopt when there is none.
struct PrintfPattern {
  std::size_t length;
  int width;
};

std::optional<PrintfPattern> printf_pattern_at(std::string_view path, std::size_t at) {
  if (path[at] != '%') return std::nullopt;
  std::size_t i = at + 1;
  int width = 0;
  if (i < path.size() && path[i] == '0') {
    ++i;
    const std::size_t digits = i;
    // Digits past the limit are still consumed, but no longer accumulated, so a long run cannot overflow.
    for (; i < path.size() && path[i] >= '0' && path[i] <= '9'; ++i)
      if (width <= 32) width = width * 10 + (path[i] - '0');
    if (i == digits || width > 32) return std::nullopt;
  }
  if (i >= path.size() || path[i] != 'd') return std::nullopt;
  return PrintfPattern{i + 1 - at, width};
}

std::string padded(int frame, int width) {
  const long long magnitude = std::llabs(static_cast<long long>(frame));
  return fmt::format("{}{:0{}}", frame < 0 ? "-" : "", magnitude, width);
}

bool parse_int(std::string_view text, int& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<int> FrameRange::frames() const {
  std::vector<int> out;
  for (long long f = first; f <= last; f += step) out.push_back(static_cast<int>(f));
  return out;
}

FrameRange parse_frame_range(std::string_view text) {
  const auto bad = [&] {
    return usage_error(fmt::format(
        "--frames \"{}\" is not a frame range (expected A, A-B or A-BxSTEP, such as 1001-1100x2)", text));
  };
  FrameRange range;
  std::string_view rest = text;
  // The first number may carry a sign, so the range dash is looked for after its first character.
  const std::size_t dash = rest.size() > 1 ? rest.find('-', 1) : std::string_view::npos;
  if (dash == std::string_view::npos) {
    if (!parse_int(rest, range.first)) throw bad();
    range.last = range.first;
    return range;
  }
  if (!parse_int(rest.substr(0, dash), range.first)) throw bad();
  rest.remove_prefix(dash + 1);
  const std::size_t x = rest.find('x');
  if (x != std::string_view::npos) {
    if (!parse_int(rest.substr(x + 1), range.step)) throw bad();
    rest = rest.substr(0, x);
  }
  if (!parse_int(rest, range.last)) throw bad();
  if (range.step < 1) throw usage_error(fmt::format("--frames \"{}\": the step must be at least 1", text));
  if (range.last < range.first)
    throw usage_error(fmt::format("--frames \"{}\": the last frame is before the first", text));
  const long long count = (static_cast<long long>(range.last) - range.first) / range.step + 1;
  if (count > kMaxFrames)
    throw usage_error(fmt::format("--frames \"{}\" holds {} frames; at most {} are rendered in one run", text,
                                  count, kMaxFrames));
  return range;
}

bool has_frame_pattern(std::string_view path) {
  for (std::size_t i = 0; i < path.size(); ++i)
    if (path[i] == '#' || printf_pattern_at(path, i)) return true;
  return false;
}

std::string substitute_frame(std::string_view path, int frame) {
  std::string out;
  for (std::size_t i = 0; i < path.size();) {
    if (path[i] == '#') {
      std::size_t n = 0;
      while (i + n < path.size() && path[i + n] == '#') ++n;
      out += padded(frame, static_cast<int>(n));
      i += n;
    } else if (const auto p = printf_pattern_at(path, i)) {
      out += padded(frame, p->width);
      i += p->length;
    } else {
      out += path[i++];
    }
  }
  return out;
}

}  // namespace quorlen::hosting
