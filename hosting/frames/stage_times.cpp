/// \file stage_times.cpp  Formatting stage times.
#include <fmt/format.h>
#include <quorlen/stage_times.h>

namespace quorlen::hosting {

StageTimes& StageTimes::operator+=(const StageTimes& o) {
  read += o.read;
  render += o.render;
  write += o.write;
  wall += o.wall;
  pixels += o.pixels;
  frames += o.frames;
  return *this;
}

std::string format_stats(const StageTimes& t) {
  const double megapixels = static_cast<double>(t.pixels) / 1e6;
  const auto line = [&](const char* stage, double seconds) {
    if (seconds > 0)
      return fmt::format("  {:<7}{:9.3f} s  {:9.2f} MP/s\n", stage, seconds, megapixels / seconds);
    return fmt::format("  {:<7}{:9.3f} s  {:>9} MP/s\n", stage, seconds, "-");
  };
  std::string out =
      fmt::format("stats: {} frame{}, {:.3f} megapixels{}\n", t.frames, t.frames == 1 ? "" : "s", megapixels,
                  t.wall > 0 ? " (stages overlap; total is elapsed time)" : "");
  out += line("read", t.read);
  out += line("render", t.render);
  out += line("write", t.write);
  out += line("total", t.wall > 0 ? t.wall : t.read + t.render + t.write);
  return out;
}

double Stopwatch::lap() {
  const auto now = std::chrono::steady_clock::now();
  const double seconds = std::chrono::duration<double>(now - start_).count();
  start_ = now;
  return seconds;
}

}  // namespace quorlen::hosting
