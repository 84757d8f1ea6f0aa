/// \file progress.cpp  The terminal progress bar.
#include "cli/progress.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quorlen::cli {

Progress::Progress(bool enabled, int frames) : enabled_(enabled), frames_(std::max(1, frames)) {}

Progress::~Progress() { finish(); }

bool Progress::stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

void Progress::begin_frame(int frame, int index) {
  frame_ = frame;
  index_ = index;
  fraction_ = 0;
  draw(true);
}

void Progress::frame_progress(double fraction) {
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  draw(false);
}

void Progress::finish() {
  if (!enabled_ || !drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

std::string Progress::bar(double done, int frame, int index, int frames) {
  constexpr int kWidth = 30;
  const double d = std::isnan(done) ? 0.0 : std::clamp(done, 0.0, 1.0);
  const int filled = static_cast<int>(d * kWidth);
  const int percent = static_cast<int>(d * 100);
  return fmt::format("[{}{}] {:3}%  frame {} ({}/{})", std::string(static_cast<std::size_t>(filled), '#'),
                     std::string(static_cast<std::size_t>(kWidth - filled), '.'), percent, frame, index + 1,
                     frames);
}

void Progress::draw(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  const double done = (index_ + fraction_) / frames_;
  std::fprintf(stderr, "\r\033[Kquorlen: %s", bar(done, frame_, index_, frames_).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace quorlen::cli
