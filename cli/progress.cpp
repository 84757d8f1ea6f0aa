/// \file progress.cpp  The terminal progress bar, the per-frame log lines and the farms' percentages.
#include "cli/progress.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorlen::cli {

Progress::Progress(Style style, int frames) : style_(style), frames_(std::max(1, frames)) {}

Progress::~Progress() { finish(); }

bool Progress::stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

Progress::Style Progress::choose(const std::string& format, bool quiet, bool terminal, bool frame_list) {
  if (quiet) return Style::none;
  if (format == "bar") return Style::bar;
  if (format == "lines") return Style::lines;
  if (format == "percent") return Style::percent;
  if (format == "openjd") return Style::openjd;
  return terminal ? Style::bar : frame_list ? Style::lines : Style::none;
}

int Progress::whole_percent(double done) {
  const double d = std::isnan(done) ? 0.0 : std::clamp(done, 0.0, 1.0);
  // A product just below a whole number must not show the next one early; 100 only once all is done.
  return std::min(100, static_cast<int>(std::floor(d * 100.0 + 1e-9)));
}

void Progress::report_percent(double done) {
  const int percent = whole_percent(done);
  if (percent == percent_said_) return;
  percent_said_ = percent;
  if (style_ == Style::percent)
    std::printf("Progress: %d%%\n", percent);
  else
    std::printf("openjd_progress: %d\n", percent);
  std::fflush(stdout);
}

void Progress::begin_frame(int frame, int index) {
  frame_ = frame;
  index_ = index;
  fraction_ = 0;
  if (!started_) {
    started_ = std::chrono::steady_clock::now();
    work_at_start_ = index;
  }
  if (style_ == Style::openjd) {
    std::printf("openjd_status: frame %d (%d/%d)\n", frame, index + 1, frames_);
    std::fflush(stdout);
  }
  if (style_ == Style::percent || style_ == Style::openjd)
    report_percent(static_cast<double>(index) / frames_);
  draw(true);
}

void Progress::frame_progress(double fraction) {
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  if (style_ == Style::percent || style_ == Style::openjd) report_percent((index_ + fraction_) / frames_);
  draw(false);
}

void Progress::end_frame(int frame, int index) {
  if (style_ == Style::percent || style_ == Style::openjd)
    report_percent(static_cast<double>(index + 1) / frames_);
  if (style_ != Style::lines) return;
  std::fprintf(stderr, "quorlen: %s\n", line(frame, index, frames_, false).c_str());
  std::fflush(stderr);
}

void Progress::skip_frame(int frame, int index) {
  if (style_ == Style::openjd) {
    std::printf("openjd_status: frame %d skipped, output exists (%d/%d)\n", frame, index + 1, frames_);
    std::fflush(stdout);
  }
  if (style_ == Style::percent || style_ == Style::openjd)
    report_percent(static_cast<double>(index + 1) / frames_);
  if (style_ == Style::lines) {
    std::fprintf(stderr, "quorlen: %s\n", line(frame, index, frames_, true).c_str());
    std::fflush(stderr);
  }
  // A skipped frame is not work the rate should count.
  if (started_) work_at_start_ += 1;
}

void Progress::finish() {
  if (style_ != Style::bar || !drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

std::string Progress::bar(double done, int frame, int index, int frames, std::optional<double> seconds_left) {
  constexpr int kWidth = 30;
  const double d = std::isnan(done) ? 0.0 : std::clamp(done, 0.0, 1.0);
  const int filled = static_cast<int>(d * kWidth);
  const int percent = static_cast<int>(d * 100);
  std::string text = fmt::format(
      "[{}{}] {:3}%  frame {} ({}/{})", std::string(static_cast<std::size_t>(filled), '#'),
      std::string(static_cast<std::size_t>(kWidth - filled), '.'), percent, frame, index + 1, frames);
  if (seconds_left) {
    const long long s = std::llround(*seconds_left);
    text += s >= 3600 ? fmt::format("  {}:{:02}:{:02} left", s / 3600, s / 60 % 60, s % 60)
                      : fmt::format("  {}:{:02} left", s / 60, s % 60);
  }
  return text;
}

std::string Progress::line(int frame, int index, int frames, bool skipped) {
  const int percent = static_cast<int>(100.0 * (index + 1) / std::max(1, frames));
  return fmt::format("frame {} {}, {}/{} ({}%)", frame, skipped ? "skipped, output exists" : "done",
                     index + 1, frames, percent);
}

std::optional<double> Progress::time_left(double elapsed, double done, double left) {
  // Too little done, or too early, and the first band's start-up cost would dominate the estimate.
  if (!(done > 0.02) || !(elapsed >= 1.0) || !(left >= 0)) return std::nullopt;
  const double seconds = elapsed / done * left;
  if (!std::isfinite(seconds)) return std::nullopt;
  return seconds;
}

void Progress::draw(bool force) {
  if (style_ != Style::bar) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double position = index_ + fraction_;
  std::optional<double> left;
  if (started_)
    left = time_left(std::chrono::duration<double>(now - *started_).count(), position - work_at_start_,
                     frames_ - position);
  std::fprintf(stderr, "\r\033[Kquorlen: %s", bar(position / frames_, frame_, index_, frames_, left).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace quorlen::cli
