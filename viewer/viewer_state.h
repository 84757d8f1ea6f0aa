/// \file viewer_state.h  What the browser viewer does to its session, apart from HTTP: knobs, previews,
/// picking, saving and rendering. The server calls it from one thread.
#pragma once

#include <quorlen/lighting.h>
#include <quorlen/preview.h>
#include <quorlen/session.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorlen::viewer {

/// Where the viewer's buttons write and how the inputs were named, all from the command line.
struct ViewSetup {
  std::optional<std::string> output;  ///< "Render" writes here
  std::optional<std::string> save;    ///< "Save" writes the settings JSON here
  /// The input options of the command line (`--passes shot.exr`, `--light-space world`, ...), repeated in
  /// the render command the page offers to copy.
  std::vector<std::string> input_arguments;
};

/// The viewer's state: a session holding the inputs at full resolution, a smaller copy for quick previews,
/// and the last rendered preview. Every call that fails throws an Error with a one-line reason and
/// leaves the state as it was.
class ViewerState {
 public:
  ViewerState(std::unique_ptr<hosting::Session> session, hosting::PassReading reading, ViewSetup setup);

  hosting::Session& session() { return *session_; }

  /// The node's panel: every declaration with its value and availability.
  nlohmann::json panel();
  /// The image's size, the connected inputs and which buttons have somewhere to write.
  nlohmann::json info();
  /// Applies knob values in the settings file's forms, all or nothing; returns the new panel.
  nlohmann::json apply(const nlohmann::json& settings);

  /// The preview as PNG bytes: the render at `scale` (0 < scale <= 1) of the full resolution, multiplied
  /// by 2^`exposure`, encoded to 8-bit sRGB as `render` writes a PNG. `render_ms` receives the time the
  /// render took (0 when an earlier render of the same state was reused).
  std::string preview_png(double scale, double exposure, double& render_ms);
  /// Input `slot` for viewing: colour through the chosen view with the exposure, normals as 0.5 n + 0.5,
  /// positions spread over their range (data shown as it is).
  std::string input_png(int slot, double scale, double exposure);

  /// The colour config in use and the view chosen: {"config", "displays": {DISPLAY: [VIEW, ...]}, "looks",
  /// "display", "view", "look", "gamma"}.
  nlohmann::json colour();
  /// Chooses any of "display", "view", "look" ("" for none) and "gamma", all or nothing: an unknown key or
  /// name, or a gamma out of range, is a usage error and changes nothing. A new display without a view
  /// takes that display's default view. Returns colour().
  nlohmann::json set_colour(const nlohmann::json& choice);

  /// The surface at pixel (x, y), counted from the image's top left; throws a usage error outside it.
  hosting::Surface surface(int x, int y);
  /// Places the light for the surface at (x, y): the point light `distance` along the normal, the parallel
  /// light shining straight at it. Returns the surface and the new panel; refuses pixels without a surface.
  nlohmann::json pick(int x, int y, double distance);

  /// The settings JSON of every knob, as `--settings` reads it.
  nlohmann::json settings();
  /// What Save writes: the settings and how the passes are read, so the file alone reproduces the look.
  nlohmann::json saved_settings();
  /// Writes settings() to the --save path; returns {"path": ...}.
  nlohmann::json save();
  /// Renders the full frame to the -o path; returns {"path": ..., "render_ms": ...}.
  nlohmann::json render_output();
  /// The `quorlen render` command line that reproduces the preview.
  std::string command();

  /// A number that changes with every change of a knob.
  long generation() const { return generation_; }

 private:
  hosting::Session& session_at(double scale);

  std::unique_ptr<hosting::Session> session_;
  hosting::PreviewView view_;  ///< display, view, look and gamma; the exposure comes with each request
  hosting::LightSpace space_;
  hosting::NormalEncoding encoding_;
  ViewSetup setup_;
  long generation_ = 0;
  // The reduced copy for one scale, its knobs brought up to date before each render.
  std::unique_ptr<hosting::Session> reduced_;
  double reduced_scale_ = 0;
  // The last preview rendered, reused while neither the knobs nor the scale change.
  std::optional<DD::Image::ImageBuffer> last_;
  long last_generation_ = -1;
  double last_scale_ = 0;

 public:
  ~ViewerState();
  ViewerState(const ViewerState&) = delete;
  ViewerState& operator=(const ViewerState&) = delete;
};

/// Keeps memory freed by the process for its next allocations instead of returning it to the system: every
/// preview allocates and frees frames of several MiB, and fresh pages cost a fault each on first touch.
void keep_freed_memory();

/// Shell quoting for one word of a command line.
std::string shell_quote(const std::string& word);

}  // namespace quorlen::viewer
