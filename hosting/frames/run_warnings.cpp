/// \file run_warnings.cpp  A render job's warnings, each said once per run.
#include "hosting/frames/run_warnings.h"

#include <fmt/format.h>
#include <quorlen/lighting.h>

#include <algorithm>
#include <vector>

#include "text/strings.h"

namespace quorlen::hosting {

RunWarnings::RunWarnings(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {}

void RunWarnings::say_once(const std::string& message) {
  if (said_.insert(message).second && sink_) sink_(message);
}

void RunWarnings::hold(const std::string& message) {
  if (std::find(held_.begin(), held_.end(), message) == held_.end()) held_.push_back(message);
}

void RunWarnings::check_settings(Node& node, const FrameSources& sources, const std::string& prefix) {
  std::array<bool, kInputCount> connected{};
  for (int slot = 0; slot < kInputCount; ++slot)
    connected[static_cast<std::size_t>(slot)] = sources.inputs[static_cast<std::size_t>(slot)].has_value();
  for (const std::string& message : settings_warnings(node, connected)) hold(prefix + message);
}

void RunWarnings::add_non_finite(std::optional<int> frame, long long pixels) {
  if (pixels <= 0) return;
  if (non_finite_frames_ == 0) first_non_finite_frame_ = frame;
  non_finite_ += pixels;
  ++non_finite_frames_;
}

void RunWarnings::normals_without_negatives(const std::string& description) {
  say_once(fmt::format(
      "the normal input {} has no negative component anywhere; if it stores normals as 0.5 n + 0.5 (0..1, as "
      "8-bit normal maps do), give --normal-encoding unsigned",
      description));
}

void RunWarnings::finish() {
  for (const auto& message : held_) say_once(message);
  held_.clear();
  if (non_finite_ == 0) return;
  std::string where;
  if (first_non_finite_frame_)
    where = non_finite_frames_ == 1 ? fmt::format(" in frame {}", *first_non_finite_frame_)
                                    : fmt::format(" in {} frames, the first frame {}", non_finite_frames_,
                                                  *first_non_finite_frame_);
  say_once(
      fmt::format("{} output pixel{} not finite (NaN or infinity){}; check the settings (such as "
                  "surfaceSpecularPower below 1) and the passes",
                  non_finite_, non_finite_ == 1 ? " is" : "s are", where));
}

}  // namespace quorlen::hosting
