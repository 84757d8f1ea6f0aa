/// \file viewer_state.h  What the browser viewer does to its session, apart from HTTP: the rig and its
/// lights' knobs, previews, picking, saving and rendering. The server calls it from one thread.
#pragma once

#include <quorlen/camera.h>
#include <quorlen/lighting.h>
#include <quorlen/preview.h>
#include <quorlen/render.h>
#include <quorlen/rig.h>
#include <quorlen/rig_session.h>
#include <quorlen/session.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace quorlen::viewer {

/// Where the viewer's buttons write, how the inputs were named and the settings it starts from, all from the
/// command line.
struct ViewSetup {
  std::optional<std::string> output;  ///< "Render" writes here
  std::optional<std::string> save;    ///< "Save" writes the settings file (one light or a rig) here
  /// The input options of the command line (`--passes shot.exr`, `--light-space world`, ...), repeated in
  /// the render command the page offers to copy.
  std::vector<std::string> input_arguments;
  /// The settings in the file's form: the --settings file's object (a rig when it holds `lights`) with each
  /// --set written into it; empty for one light of defaults.
  nlohmann::json settings = nlohmann::json::object();
  /// The file the settings came from, if any, and whether `settings` are what it holds (no --set).
  std::optional<std::string> settings_path;
  bool settings_as_file = false;
  /// The request the inputs were read from (its output unused): "Render" renders it with the rig in memory.
  std::optional<hosting::RenderRequest> request;
  /// The shot's frames (empty: the frame alone) and the frame the view opens at.
  std::vector<int> frames;
  int frame = 0;
  /// Reads the inputs of a frame of the shot, as render reads them; unset when every frame reads the same
  /// files.
  std::function<std::unique_ptr<hosting::Session>(int frame, std::vector<std::string>& warnings)> read_frame;
};

/// The viewer's state: the settings in the file's form (one light, or a rig of named lights), a rig session
/// holding the inputs at full resolution with one node a light, a smaller copy for quick previews, and the
/// last rendered previews. Every call that fails throws an Error with a one-line reason and leaves the
/// state as it was.
///
/// Lights are named by `light`; none means the selected one. A view of one light has one light named "".
class ViewerState {
 public:
  ViewerState(std::unique_ptr<hosting::Session> session, hosting::PassReading reading, ViewSetup setup);

  hosting::Session& session() { return *session_; }

  /// The light's panel: every declaration with its value and availability.
  nlohmann::json panel(const std::optional<std::string>& light = {});
  /// The image's size, the connected inputs, which buttons have somewhere to write and the camera found
  /// for P (null without P).
  nlohmann::json info();
  /// The camera of the frame shown, as shadows find it: {"found", "projection", "origin", "residual",
  /// "points", "line", "rows", "origin_x", "origin_y"}; null without a P input.
  nlohmann::json camera();
  /// Applies knob values in the settings file's forms to a light, all or nothing; returns its new panel.
  /// A knob the file animates gets a key at the current frame; any other is set in the light's own knobs
  /// (at the top of the file for one light).
  nlohmann::json apply(const nlohmann::json& settings, const std::optional<std::string>& light = {});

  /// The settings in the file's form, as Save writes them: the shared values, `lights` (for a rig) and the
  /// host options lightSpace and normalEncoding.
  nlohmann::json rig() const { return doc_; }
  /// Replaces the whole rig, all or nothing: the file's rules (hosting's parse_rig), every knob of every
  /// light, and host options that must be the viewer's own. Returns rig().
  nlohmann::json set_rig(const nlohmann::json& file);
  /// The page's view of the lights: {"rig", "lights": [{"name", "mute", "mask", "maskInvert", "animated"}],
  /// "selected", "solo"}.
  nlohmann::json lights();
  /// Chooses the selected light ("selected") and the soloed ones ("solo": [NAME, ...]), all or nothing;
  /// returns lights().
  nlohmann::json choose(const nlohmann::json& choice);

  /// The preview as PNG bytes: the beauty (the lights added in order, masks applied, muted ones left out,
  /// solo honoured), or with `light` that light alone (times its mask, muted or not), rendered at `scale`
  /// (0 < scale <= 1) of the full resolution, multiplied by 2^`exposure`, encoded to 8-bit through the
  /// chosen view as `render` writes a PNG. `render_ms` receives the time the render took (0 when an earlier
  /// render of the same state was reused). A `width` above 0 and below the render's shrinks the picture to
  /// it (nearest pixels) before it is encoded: a thumbnail of a render made anyway.
  std::string preview_png(double scale, double exposure, double& render_ms,
                          const std::optional<std::string>& light = {}, int width = 0);
  /// Input `slot` for viewing: colour through the chosen view with the exposure, normals as 0.5 n + 0.5,
  /// positions spread over their range (data shown as it is; world-space normals as the file holds them, not
  /// with the z the node is given).
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
  /// Places a light for the surface at (x, y): the point light `distance` along the normal, the parallel
  /// light shining straight at it. Returns the surface, the values set and the light's new panel; refuses
  /// pixels without a surface.
  nlohmann::json pick(int x, int y, std::optional<double> distance = {},
                      const std::optional<std::string>& light = {});
  /// The distance a click places a point light at when none is given: a tenth of the scene's size, the
  /// diagonal of the box holding the middle 90% of P's surface samples along each axis (1 without P).
  double default_distance() const { return distance_; }

  /// Every knob's value of a light in the settings file's form.
  nlohmann::json settings(const std::optional<std::string>& light = {});
  /// Writes rig() to the --save path; returns {"path": ...}.
  nlohmann::json save();
  /// Renders the full frame to the -o path as `quorlen render` renders the rig; returns {"path": ...,
  /// "render_ms": ...}.
  nlohmann::json render_output();
  /// The `quorlen render` command line that reproduces the preview.
  std::string command();
  /// {"command", "settings": the file it reads or null, "saved": whether that file holds the rig shown,
  /// "note": what to do first, or ""}.
  nlohmann::json command_reply();

  /// The frame shown and the shot: {"frame", "frames": [...], "first", "last"}.
  nlohmann::json frame_info() const;
  /// Shows another frame of the shot ({"frame": N}): its inputs read again when they change with the frame,
  /// keyframed knobs evaluated there. A frame outside the shot is a usage error and changes nothing.
  nlohmann::json set_frame(const nlohmann::json& body);

  /// A number that changes with every change of a knob or of the rig.
  long generation() const { return generation_; }

 private:
  struct Built;
  Built build(const nlohmann::json& doc, const std::string& source, double frame,
              const hosting::Session& inputs);
  void commit(Built built);
  nlohmann::json& light_entry(const std::string& name);
  std::string command_file() const;
  const std::string& light_named(const std::optional<std::string>& light) const;
  std::vector<std::string> names() const;
  std::vector<std::string> kept() const;
  hosting::RigSession& rig_at(double scale);
  hosting::Session& session_at(double scale);
  void reduce_inputs(double scale);
  const DD::Image::ImageBuffer& rendered(double scale, const std::optional<std::string>& light,
                                         double& render_ms);

  std::unique_ptr<hosting::Session> session_;  ///< the inputs as read, at full resolution
  hosting::PreviewView view_;  ///< display, view, look and gamma; the exposure comes with each request
  hosting::LightSpace space_;
  hosting::NormalEncoding encoding_;
  hosting::NormalSpace normal_space_;
  hosting::NormalFlip normal_flip_;
  ViewSetup setup_;
  long generation_ = 0;
  double frame_ = 0;
  double distance_ = 1.0;

  nlohmann::json doc_;                        ///< the settings in the file's form
  hosting::RigFile file_;                     ///< doc_ as hosting reads it
  std::unique_ptr<hosting::RigSession> rig_;  ///< every light unmuted; what is kept is passed as a solo
  std::string selected_;
  std::vector<std::string> solo_;
  std::optional<nlohmann::json> command_holds_;  ///< what the file the command reads holds, when known
  long structure_ = 0;                           ///< changes with every new rig session
  /// Masks read, by their "FILE:CHANNEL" (pattern substituted): edits of the rig keep them.
  std::map<std::string, std::shared_ptr<const DD::Image::ImageBuffer>> masks_;
  // The camera of the P image it was found for: fitting it costs a few milliseconds a frame.
  std::shared_ptr<const DD::Image::ImageBuffer> camera_p_;
  nlohmann::json camera_;

  // The reduced copy for one scale, its knobs brought up to date before each render.
  std::unique_ptr<hosting::RigSession> reduced_;
  double reduced_scale_ = 0;
  long reduced_generation_ = -1;
  long reduced_structure_ = -1;
  std::array<std::shared_ptr<const DD::Image::ImageBuffer>, hosting::kInputCount> reduced_images_;
  double reduced_images_scale_ = 0;

  // One light renders through sessions, whose output is the beauty itself: the full one (session_) and
  // a reduced one, their nodes brought up to date from the light's before each render.
  long session_generation_ = -1;
  std::unique_ptr<hosting::Session> reduced_session_;
  long reduced_session_generation_ = -1;
  double reduced_session_scale_ = 0;

  // The last renders: the beauty with each kept light's layer, and one light alone.
  struct Rendered {
    long generation = -1;
    double scale = 0;
    std::string light;
    std::optional<hosting::RigSession::Result> result;
  };
  Rendered beauty_, alone_;

 public:
  ~ViewerState();
  ViewerState(const ViewerState&) = delete;
  ViewerState& operator=(const ViewerState&) = delete;
};

/// The settings of one light or a rig in the file's form with each `--set` written into it: a plain knob
/// for every light (at the top of the file, and out of each light's own knobs), `LIGHT.KNOB` into that
/// light's knobs. Values are checked on a node of `description` and written in the file's form. Throws a
/// usage error.
nlohmann::json settings_with_sets(const DD::Image::Op::Description& description, nlohmann::json doc,
                                  const std::vector<hosting::KnobSetting>& sets);

/// Keeps memory freed by the process for its next allocations instead of returning it to the system: every
/// preview allocates and frees frames of several MiB, and fresh pages cost a fault each on first touch.
void keep_freed_memory();

/// Shell quoting for one word of a command line.
std::string shell_quote(const std::string& word);

}  // namespace quorlen::viewer
