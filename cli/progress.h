/// \file progress.h  Progress: a bar on a terminal, one line per frame for logs, percentages for farm log
/// parsers.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace quorlen::cli {

class Progress {
 public:
  enum class Style {
    none,
    bar,      ///< redrawn in place, with the time left; for a terminal
    lines,    ///< one line per finished or skipped frame; for logs that farm managers read
    percent,  ///< "Progress: P%" on stdout whenever the whole percentage changes; the form farm plug-ins
              ///< parse
    openjd,   ///< "openjd_progress: P" and "openjd_status: ..." on stdout, as Open Job Description reads them
  };

  /// The style a --progress-format word asks for: `auto` is a bar on a terminal, lines for a log of a frame
  /// list and nothing for a single frame's log; nothing at all when `quiet` (--no-progress, --dry-run).
  static Style choose(const std::string& format, bool quiet, bool terminal, bool frame_list);

  /// Progress over `frames` frames in `style`.
  Progress(Style style, int frames);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  /// Whether stderr is a terminal.
  static bool stderr_is_terminal();

  /// Starts frame number `frame`, the `index`-th (from 0).
  void begin_frame(int frame, int index);
  /// Sets how much of the current frame is done (0 to 1) and redraws, at most every 100 ms.
  void frame_progress(double fraction);
  /// The `index`-th frame, number `frame`, is written.
  void end_frame(int frame, int index);
  /// The `index`-th frame, number `frame`, was not rendered because its output exists.
  void skip_frame(int frame, int index);
  /// Clears the bar so later messages start on a clean line.
  void finish();

  /// The bar's text: "[###.......]  30%  frame 1003 (2/4)" for `done` (0 to 1) of all frames, followed by
  /// "  1:05 left" when the time left is known.
  static std::string bar(double done, int frame, int index, int frames,
                         std::optional<double> seconds_left = std::nullopt);
  /// A log line: "frame 1003 done, 2/4 (50%)" ("skipped, output exists" for a skipped frame).
  static std::string line(int frame, int index, int frames, bool skipped);
  /// The time left at a steady rate: `elapsed` seconds spent on `done` of the work, `left` still to do;
  /// unknown until enough is done to tell.
  static std::optional<double> time_left(double elapsed, double done, double left);
  /// The whole percentage of `done` (0 to 1) of the work, rounded down, so 100 means all is done.
  static int whole_percent(double done);

 private:
  void draw(bool force);
  // For percent and openjd: prints the overall percentage when its whole part changes.
  void report_percent(double done);

  Style style_;
  int frames_;
  int frame_ = 0;
  int index_ = 0;
  double fraction_ = 0;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_draw_{};
  // The rate counts rendered frames only; skipped ones took no time.
  std::optional<std::chrono::steady_clock::time_point> started_;
  double work_at_start_ = 0;
  int percent_said_ = -1;
};

}  // namespace quorlen::cli
