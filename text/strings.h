/// \file strings.h  The small string helpers every layer shares: case, dotted names, lists, one-line
/// messages, escapes and quoting, trimming and suggestions for near misses.
///
/// Header-only and free of dependencies, so the host layer and the host programs can both use it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorlen::text {

/// The ASCII lower case of `c`; other bytes are left alone, whatever the locale.
constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/// `s` in ASCII lower case.
inline std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

/// Whether `a` and `b` are equal ignoring ASCII case.
constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

/// The part of a dotted name before its last dot ("ViewLayer.Normal.X" gives "ViewLayer.Normal"); "" when
/// it has no dot.
constexpr std::string_view before_last_dot(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : name.substr(0, dot);
}

/// The last word of a dotted name ("ViewLayer.Normal" gives "Normal"); the whole name when it has no dot.
constexpr std::string_view last_word(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(dot + 1);
}

/// The items joined by `separator`.
template <class Items>
std::string join(const Items& items, std::string_view separator = ", ") {
  std::string out;
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += separator;
    out += item;
    first = false;
  }
  return out;
}

/// `message` with its line breaks turned into spaces and trailing spaces dropped; "unknown error" when
/// nothing is left. Library messages sometimes span lines; ours are always one.
inline std::string one_line(std::string message) {
  std::replace(message.begin(), message.end(), '\n', ' ');
  std::replace(message.begin(), message.end(), '\r', ' ');
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message.empty() ? std::string("unknown error") : message;
}

namespace detail {
inline void append_escaped_control(std::string& out, char c) {
  static constexpr char hex[] = "0123456789abcdef";
  const auto u = static_cast<unsigned char>(c);
  if (c == '\n') {
    out += "\\n";
  } else if (c == '\t') {
    out += "\\t";
  } else if (c == '\r') {
    out += "\\r";
  } else if (u < 0x20 || u == 0x7f) {
    out += "\\x";
    out += hex[u >> 4];
    out += hex[u & 0xf];
  } else {
    out += c;
  }
}
}  // namespace detail

/// `s` with control bytes written as escapes (\n, \t, \r, \xHH), so a name read from a file can be printed
/// on one line.
inline std::string escape_controls(std::string_view s) {
  std::string out;
  for (char c : s) detail::append_escaped_control(out, c);
  return out;
}

/// `s` in double quotes, with quotes and backslashes escaped and control bytes as escape_controls writes
/// them, so a message shows exactly where a value starts and ends.
inline std::string in_quotes(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    detail::append_escaped_control(out, c);
  }
  return out + '"';
}

/// True for the ASCII white-space bytes (space, \t, \n, \r, \f, \v), whatever the locale.
constexpr bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/// `s` without leading and trailing ASCII white space.
constexpr std::string_view trim(std::string_view s) {
  while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
  return s;
}

/// Levenshtein distance ignoring ASCII case; names are short, so the quadratic table is fine.
inline std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

/// The candidate a mistyped `name` most likely meant: the nearest by at most `max_edits` edits (case
/// ignored); "" when none is that near or two are equally near.
template <class Candidates>
std::string closest_match(std::string_view name, const Candidates& candidates, std::size_t max_edits = 2) {
  std::string best;
  std::size_t best_distance = max_edits + 1;
  bool tie = false;
  for (const auto& candidate : candidates) {
    const std::string_view c(candidate);
    const std::size_t d = edit_distance(name, c);
    if (d < best_distance) {
      best = std::string(c);
      best_distance = d;
      tie = false;
    } else if (d == best_distance && c != best) {
      tie = true;
    }
  }
  return tie ? std::string() : best;
}

}  // namespace quorlen::text
