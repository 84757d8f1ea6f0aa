/// \file arguments.cpp  Whole-number options and the thread count.
#include "cli/arguments.h"

#include <fmt/format.h>
#include <tbb/info.h>

#include <charconv>
#include <cmath>
#include <limits>

namespace quorlen::cli {

CLI::Validator whole_number(long long min, long long max, const std::string& note) {
  const std::string tail = note.empty() ? "" : fmt::format(" ({})", note);
  return CLI::Validator(
      [=](const std::string& text) -> std::string {
        long long value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        const bool whole =
            !text.empty() && ec != std::errc::invalid_argument && end == text.data() + text.size();
        if (whole && ec == std::errc() && value >= min && value <= max) return {};
        if (whole && (ec == std::errc::result_out_of_range || value > max) && text[0] != '-')
          return fmt::format("\"{}\" is too large (at most {})", text, max);
        return fmt::format("\"{}\" is not a whole number of {} or more{}", text, min, tail);
      },
      "", "");
}

CLI::Validator frame_number() {
  return CLI::Validator(
      [](const std::string& text) -> std::string {
        double value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (!text.empty() && ec == std::errc() && end == text.data() + text.size() && std::isfinite(value))
          return {};
        return fmt::format("\"{}\" is not a frame number (such as 1001 or 1001.5)", text);
      },
      "", "");
}

int usable_threads(int requested, int cores, const std::function<void(const std::string&)>& warn) {
  if (requested <= cores || cores < 1) return requested;
  if (warn)
    warn(fmt::format("--threads {} is more than the {} core{} this process may use; using {}", requested,
                     cores, cores == 1 ? "" : "s", cores));
  return cores;
}

int available_cores() { return tbb::info::default_concurrency(); }

}  // namespace quorlen::cli
