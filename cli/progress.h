/// \file progress.h  A progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <chrono>
#include <string>

namespace quorlen::cli {

class Progress {
 public:
  /// A bar over `frames` frames; draws nothing unless `enabled`.
  Progress(bool enabled, int frames);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  /// Whether stderr is a terminal.
  static bool stderr_is_terminal();

  /// Starts frame number `frame`, the `index`-th (from 0).
  void begin_frame(int frame, int index);
  /// Sets how much of the current frame is done (0 to 1) and redraws, at most every 100 ms.
  void frame_progress(double fraction);
  /// Clears the bar so later messages start on a clean line.
  void finish();

  /// The bar's text: "[###.......]  30%  frame 1003 (2/4)" for `done` (0 to 1) of all frames.
  static std::string bar(double done, int frame, int index, int frames);

 private:
  void draw(bool force);

  bool enabled_;
  int frames_;
  int frame_ = 0;
  int index_ = 0;
  double fraction_ = 0;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace quorlen::cli
