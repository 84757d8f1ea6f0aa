/// \file run_warnings.h  What a render job warns about: settings that cannot do what they seem to, and
/// outputs or inputs that look wrong. Each warning is said once per run, however many frames give cause.
#pragma once

#include <quorlen/node.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hosting/frames/frame_inputs.h"

namespace quorlen::hosting {

class RunWarnings {
 public:
  /// `sink` receives each warning, without the "warning:" tag; an empty sink drops them.
  explicit RunWarnings(std::function<void(const std::string&)> sink);

  /// Says `message` unless it was said before in this run.
  void say_once(const std::string& message);

  /// Holds `message` until finish(), once, so that a run that fails ends in its one-line error alone.
  void say_after_run(const std::string& message) { hold(message); }

  /// Knobs set to a value other than their default that the panel shows unavailable with the current
  /// settings; a point light without a P input; "texture" output without a colour input. Held until
  /// finish(), so that a run that fails ends in its one-line error alone.
  /// `prefix` starts each warning (a rig names the light).
  void check_settings(Node& node, const FrameSources& sources, const std::string& prefix = "");

  /// A frame's count of output pixels with a non-finite channel (`frame` empty for a run without frame
  /// numbers); summed over the run and said by finish().
  void add_non_finite(std::optional<int> frame, long long pixels);

  /// The normal input `description` of a frame held no negative component (read as signed values).
  void normals_without_negatives(const std::string& description);

  /// Says the held warnings and what was summed over the run.
  void finish();

 private:
  void hold(const std::string& message);

  std::function<void(const std::string&)> sink_;
  std::set<std::string> said_;
  std::vector<std::string> held_;
  long long non_finite_ = 0;
  int non_finite_frames_ = 0;
  std::optional<int> first_non_finite_frame_;
};

}  // namespace quorlen::hosting
