/// \file viewer_state.cpp  The viewer's operations on its session.
#include "viewer/viewer_state.h"

#include <fmt/format.h>
#include <malloc.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/frames.h>
#include <quorlen/images.h>
#include <quorlen/keyframes.h>
#include <quorlen/lighting.h>
#include <quorlen/preview.h>
#include <quorlen/rig.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "text/strings.h"

namespace quorlen::viewer {

using DD::Image::Box;
using DD::Image::Chan_Alpha;
using DD::Image::Chan_Blue;
using DD::Image::Chan_Green;
using DD::Image::Chan_Red;
using DD::Image::ImageBuffer;
using hosting::usage_error;
using nlohmann::json;

namespace {

double since_ms(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

int scaled(int length, double scale) {
  return std::max(1, static_cast<int>(std::lround(static_cast<double>(length) * scale)));
}

// Each pixel of the reduced copy takes the samples at the nearest full-resolution pixel, so positions and
// normals stay those of real surfaces.
std::shared_ptr<const ImageBuffer> reduced_copy(const ImageBuffer& full, const Box& data, int w, int h) {
  auto small = std::make_shared<ImageBuffer>(
      Box(0, 0, w, h), std::vector<DD::Image::Channel>{Chan_Red, Chan_Green, Chan_Blue});
  const int c[3] = {full.channel_index(Chan_Red), full.channel_index(Chan_Green),
                    full.channel_index(Chan_Blue)};
  for (int y = 0; y < h; ++y) {
    const int sy = data.y() + static_cast<int>((static_cast<long long>(y) * 2 + 1) * data.h() / (2LL * h));
    for (int x = 0; x < w; ++x) {
      const int sx = data.x() + static_cast<int>((static_cast<long long>(x) * 2 + 1) * data.w() / (2LL * w));
      for (int k = 0; k < 3; ++k) small->at(x, y, k) = c[k] < 0 ? 0.0f : full.at(sx, sy, c[k]);
    }
  }
  return small;
}

hosting::RigFile unmuted(hosting::RigFile file) {
  for (auto& light : file.lights) light.mute = false;
  return file;
}

// A tenth of the scene's size: the diagonal of the box holding the middle 90% of the surface positions
// along each axis (far background and stray samples left out), to 2 significant digits; 1 without P.
double scene_distance(const hosting::Session& session) {
  const auto p = session.input(hosting::kPosition);
  if (!p) return 1.0;
  const Box& box = p->box();
  const int c[3] = {p->channel_index(Chan_Red), p->channel_index(Chan_Green), p->channel_index(Chan_Blue)};
  // About 200000 samples at most, spread evenly.
  const long long pixels = static_cast<long long>(box.w()) * box.h();
  const int step = std::max(1, static_cast<int>(std::sqrt(static_cast<double>(pixels) / 200000.0)));
  std::vector<float> axis[3];
  for (int y = box.y(); y < box.t(); y += step)
    for (int x = box.x(); x < box.r(); x += step) {
      const float v[3] = {p->at(x, y, c[0]), p->at(x, y, c[1]), p->at(x, y, c[2])};
      if ((v[0] == 0 && v[1] == 0 && v[2] == 0) || !std::isfinite(v[0]) || !std::isfinite(v[1]) ||
          !std::isfinite(v[2]))
        continue;  // no surface
      for (int k = 0; k < 3; ++k) axis[k].push_back(v[k]);
    }
  if (axis[0].size() < 2) return 1.0;
  double squared = 0;
  for (auto& values : axis) {
    const auto at = [&](double q) {
      auto nth = values.begin() + static_cast<std::ptrdiff_t>(q * static_cast<double>(values.size() - 1));
      std::nth_element(values.begin(), nth, values.end());
      return static_cast<double>(*nth);
    };
    const double lo = at(0.05), hi = at(0.95);
    squared += (hi - lo) * (hi - lo);
  }
  const double distance = 0.1 * std::sqrt(squared);
  if (!(distance > 0) || !std::isfinite(distance)) return 1.0;
  return std::stod(fmt::format("{:.2g}", distance));
}

std::string mask_key(const std::string& mask, double frame) { return mask + "@" + hosting::key_text(frame); }

}  // namespace

struct ViewerState::Built {
  json doc;
  hosting::RigFile file;
  std::unique_ptr<hosting::RigSession> rig;
  std::map<std::string, std::shared_ptr<const ImageBuffer>> masks;
};

ViewerState::ViewerState(std::unique_ptr<hosting::Session> session, hosting::PassReading reading,
                         ViewSetup setup)
    : session_(std::move(session)),
      space_(reading.light_space),
      encoding_(reading.normal_encoding),
      normal_space_(reading.normal_space),
      normal_flip_(reading.normal_flip),
      setup_(std::move(setup)) {
  frame_ = setup_.frame;
  if (setup_.frames.empty()) setup_.frames = {setup_.frame};
  const std::string source =
      setup_.settings_path ? fmt::format("settings file \"{}\"", *setup_.settings_path) : "settings";
  commit(build(setup_.settings, source, frame_, *session_));
  distance_ = scene_distance(*session_);
  // The command reads the file opened while it holds what is shown.
  if (setup_.settings_path && setup_.settings_as_file && command_file() == *setup_.settings_path)
    command_holds_ = doc_;
}

ViewerState::~ViewerState() = default;

ViewerState::Built ViewerState::build(const json& given, const std::string& source, double frame,
                                      const hosting::Session& inputs) {
  if (!given.is_object())
    throw usage_error(fmt::format("{}: not a JSON object in the settings file's form", source));
  // The passes were read in one light space and normal encoding; a rig that says otherwise would be lit
  // in a convention the pixels held are not in.
  const std::pair<const char*, std::string> options[] = {
      {"lightSpace", std::string(hosting::word_of(space_))},
      {"normalEncoding", std::string(hosting::word_of(encoding_))}};
  json doc = given;
  hosting::RigFile file = hosting::parse_rig(doc, source);
  if (file.light_space && *file.light_space != space_)
    throw usage_error(fmt::format(
        "{}: lightSpace is {} here, as the passes were read; start quorlen view with --light-space {} to "
        "light in that space",
        source, options[0].second, hosting::word_of(*file.light_space)));
  if (file.normal_encoding && *file.normal_encoding != encoding_)
    throw usage_error(fmt::format(
        "{}: normalEncoding is {} here, as the passes were read; start quorlen view with --normal-encoding "
        "{} to read them so",
        source, options[1].second, hosting::word_of(*file.normal_encoding)));
  if (file.normal_space && *file.normal_space != normal_space_)
    throw usage_error(fmt::format(
        "{}: normalSpace is {} here, as the passes were read; start quorlen view with --normal-space {} to "
        "read them so",
        source, hosting::word_of(normal_space_), hosting::word_of(*file.normal_space)));
  if (file.normal_flip && *file.normal_flip != normal_flip_)
    throw usage_error(fmt::format(
        "{}: normalFlip is {} here, as the passes were read; start quorlen view with --normal-flip {} to "
        "read them so",
        source, hosting::word_of(normal_flip_), hosting::word_of(*file.normal_flip)));
  for (const auto& [key, word] : options) doc[key] = word;
  // The normals' space and flips are recorded when they are not the defaults, or the file names them.
  if (doc.contains("normalSpace") || normal_space_ != hosting::NormalSpace::world)
    doc["normalSpace"] = hosting::word_of(normal_space_);
  if (doc.contains("normalFlip") || normal_flip_ != hosting::NormalFlip{})
    doc["normalFlip"] = hosting::word_of(normal_flip_);

  Built built;
  built.rig = std::make_unique<hosting::RigSession>(session_->node().description(), unmuted(file), frame);
  std::array<std::shared_ptr<const ImageBuffer>, hosting::kInputCount> images;
  for (int slot = 0; slot < hosting::kInputCount; ++slot)
    images[static_cast<std::size_t>(slot)] = inputs.input(slot);
  // The inputs held are in the node's convention already.
  built.rig->set_inputs(inputs.geometry(), images, hosting::LightSpace::node,
                        hosting::NormalEncoding::signed_values);
  for (const auto& light : file.lights) {
    if (!light.mask) continue;
    const std::string key = mask_key(*light.mask, frame);
    std::shared_ptr<const ImageBuffer> mask;
    if (const auto held = masks_.find(key); held != masks_.end())
      mask = held->second;
    else
      mask = built.rig->file_mask(light.name, frame);
    built.rig->set_mask(light.name, mask);
    built.masks[key] = std::move(mask);
  }
  built.doc = std::move(doc);
  built.file = std::move(file);
  return built;
}

void ViewerState::commit(Built built) {
  doc_ = std::move(built.doc);
  file_ = std::move(built.file);
  rig_ = std::move(built.rig);
  masks_ = std::move(built.masks);
  ++structure_;
  ++generation_;
  const auto all = names();
  if (std::find(all.begin(), all.end(), selected_) == all.end()) selected_ = all.front();
  std::erase_if(solo_,
                [&](const std::string& s) { return std::find(all.begin(), all.end(), s) == all.end(); });
}

std::vector<std::string> ViewerState::names() const {
  if (!file_.is_rig()) return {""};
  std::vector<std::string> out;
  for (const auto& light : file_.lights) out.push_back(light.name);
  return out;
}

std::vector<std::string> ViewerState::kept() const {
  if (!file_.is_rig()) return {""};
  const std::vector<bool> flags = hosting::lights_kept(file_, solo_, {});
  std::vector<std::string> out;
  for (std::size_t i = 0; i < flags.size(); ++i)
    if (flags[i]) out.push_back(file_.lights[i].name);
  return out;
}

const std::string& ViewerState::light_named(const std::optional<std::string>& light) const {
  if (!light) return selected_;
  if (!file_.is_rig()) {
    if (light->empty()) return selected_;
    throw usage_error(
        fmt::format("no light named \"{}\": these settings are one light, without a lights list",
                    text::escape_controls(*light)));
  }
  for (const auto& l : file_.lights)
    if (l.name == *light) return l.name;
  const auto all = names();
  const std::string near = text::closest_match(*light, all);
  throw usage_error(fmt::format("no light named \"{}\" (lights: {}){}", text::escape_controls(*light),
                                text::join(all),
                                near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
}

json& ViewerState::light_entry(const std::string& name) {
  for (auto& entry : doc_["lights"])
    if (entry.value("name", "") == name) return entry;
  throw usage_error(fmt::format("no light named \"{}\"", name));
}

json ViewerState::panel(const std::optional<std::string>& light) {
  return rig_->light(light_named(light)).panel();
}

json ViewerState::settings(const std::optional<std::string>& light) {
  return rig_->light(light_named(light)).settings();
}

json ViewerState::info() {
  const Box& data = session_->geometry().data;
  json inputs = json::array();
  for (int slot = 0; slot < hosting::kInputCount; ++slot)
    if (session_->input(slot)) inputs.push_back(hosting::kInputLabels[static_cast<std::size_t>(slot)]);
  return {{"width", data.w()},
          {"height", data.h()},
          {"inputs", inputs},
          {"light_space", hosting::word_of(space_)},
          {"output", setup_.output ? json(*setup_.output) : json(nullptr)},
          {"save", setup_.save ? json(*setup_.save) : json(nullptr)},
          {"settings", setup_.settings_path ? json(*setup_.settings_path) : json(nullptr)},
          {"rig", file_.is_rig()},
          {"frame", frame_},
          {"distance", distance_},
          {"camera", camera()},
          {"generation", generation_}};
}

json ViewerState::camera() {
  const auto p = session_->input(hosting::kPosition);
  if (!p) return nullptr;
  if (p != camera_p_) {
    const hosting::CameraReport c = hosting::camera_of(*p, session_->geometry());
    camera_ = {{"found", c.found},
               {"projection", c.projection},
               {"origin", c.origin},
               {"residual", c.residual},
               {"points", c.points},
               {"line", c.line},
               {"rows", c.found ? json(c.rows) : json(nullptr)}};
    // The rows count pixels of the display window; the pictures show the data window.
    const auto& g = session_->geometry();
    camera_["origin_x"] = g.data.x() - g.display.x();
    camera_["origin_y"] = g.data.y() - g.display.y();
    camera_p_ = p;
  }
  return camera_;
}

json ViewerState::apply(const json& settings, const std::optional<std::string>& light) {
  if (!settings.is_object()) throw usage_error("the knob values must be a JSON object");
  const std::string name = light_named(light);
  hosting::Node& node = rig_->light(name);
  // One light's sessions take the same change, instead of all the knobs before their next render.
  const bool session_in_sync = !file_.is_rig() && session_generation_ == generation_;
  const bool reduced_in_sync =
      !file_.is_rig() && reduced_session_ && reduced_session_generation_ == generation_;
  // A light type the light's spot cannot take is refused now, not by every preview after it.
  const bool retyped = settings.contains("lightType");
  const json previous = retyped ? node.settings() : json();
  node.apply(settings);  // all or nothing
  if (retyped) {
    try {
      rig_->check_options();
    } catch (...) {
      json back = json::object();
      for (const auto& [key, value] : settings.items())
        if (previous.contains(key)) back[key] = previous[key];
      node.apply(back);
      throw;
    }
  }
  // The file's form follows: the node's own form of each value (choices by their labels), a key at the
  // current frame for a knob the file animates.
  const json now = node.settings();
  json* target = &doc_;
  if (file_.is_rig()) {
    json& entry = light_entry(name);
    if (!entry.contains("knobs") || !entry["knobs"].is_object()) entry["knobs"] = json::object();
    target = &entry["knobs"];
  }
  for (const auto& [key, given] : settings.items()) {
    json value = now.contains(key) ? now[key] : given;
    const json* source = target->contains(key)                  ? &(*target)[key]
                         : file_.is_rig() && doc_.contains(key) ? &doc_[key]
                                                                : nullptr;
    if (source && hosting::is_animated(*source)) {
      json animated = *source;
      hosting::set_key(animated, frame_, value);
      (*target)[key] = std::move(animated);
    } else {
      (*target)[key] = std::move(value);
    }
  }
  ++generation_;
  if (session_in_sync) {
    session_->node().apply(settings);
    session_generation_ = generation_;
  }
  if (reduced_in_sync) {
    reduced_session_->node().apply(settings);
    reduced_session_generation_ = generation_;
  }
  return node.panel();
}

json ViewerState::frame_info() const {
  return {{"frame", frame_},
          {"frames", setup_.frames},
          {"first", *std::min_element(setup_.frames.begin(), setup_.frames.end())},
          {"last", *std::max_element(setup_.frames.begin(), setup_.frames.end())}};
}

json ViewerState::set_frame(const json& body) {
  if (!body.is_object() || !body.contains("frame") || !body["frame"].is_number_integer())
    throw usage_error("\"frame\" must be a whole number");
  const long long asked = body["frame"].get<long long>();
  if (std::find(setup_.frames.begin(), setup_.frames.end(), asked) == setup_.frames.end())
    throw usage_error(fmt::format("frame {} is outside the shot (frames {})", asked,
                                  hosting::describe_frames(setup_.frames)));
  const int frame = static_cast<int>(asked);
  if (frame == frame_) return frame_info();
  // Everything is made for the new frame before anything changes.
  std::unique_ptr<hosting::Session> inputs;
  if (setup_.read_frame) {
    std::vector<std::string> warnings;
    inputs = setup_.read_frame(frame, warnings);
  }
  const std::string source = "rig";
  Built built = build(doc_, source, frame, inputs ? *inputs : *session_);
  if (inputs) {
    distance_ = scene_distance(*inputs);
    session_ = std::move(inputs);
    reduced_.reset();
    reduced_session_.reset();
    reduced_images_ = {};
    reduced_images_scale_ = 0;
    session_generation_ = -1;
  }
  frame_ = frame;
  commit(std::move(built));
  return frame_info();
}

json ViewerState::set_rig(const json& file) {
  Built built = build(file, "rig", frame_, *session_);
  // Refused now rather than by every preview after it.
  built.rig->check_options();
  commit(std::move(built));
  return doc_;
}

json ViewerState::lights() {
  json list = json::array();
  const auto animated_of = [&](const json* own) {
    json out = json::object();
    const auto add = [&](const json& values) {
      for (const auto& [key, value] : values.items()) {
        if (!hosting::is_animated(value)) {
          out.erase(key);
          continue;
        }
        out[key] = hosting::key_frames(value);
      }
    };
    json shared = json::object();
    for (const auto& [key, value] : doc_.items())
      if (std::find(hosting::kRigFileKeys.begin(), hosting::kRigFileKeys.end(), key) ==
          hosting::kRigFileKeys.end())
        shared[key] = value;
    add(shared);
    if (own) add(*own);
    return out;
  };
  // A light's keys that the page has no controls for (shadow, spot, ...): kept as the file gives them.
  const auto options_of = [](const json& entry) {
    json out = json::array();
    for (const auto& [key, value] : entry.items())
      if (key != "name" && key != "knobs" && key != "mute" && key != "mask" && key != "maskInvert")
        out.push_back(key);
    return out;
  };
  if (file_.is_rig()) {
    for (const auto& entry : doc_["lights"]) {
      const json* own = entry.contains("knobs") ? &entry["knobs"] : nullptr;
      list.push_back({{"name", entry["name"]},
                      {"mute", entry.value("mute", false)},
                      {"mask", entry.contains("mask") ? entry["mask"] : json(nullptr)},
                      {"maskInvert", entry.value("maskInvert", false)},
                      {"animated", animated_of(own)},
                      {"options", options_of(entry)}});
    }
  } else {
    list.push_back({{"name", ""},
                    {"mute", false},
                    {"mask", nullptr},
                    {"maskInvert", false},
                    {"animated", animated_of(nullptr)}});
  }
  return {
      {"rig", file_.is_rig()}, {"lights", list}, {"selected", selected_}, {"solo", solo_}, {"frame", frame_}};
}

json ViewerState::choose(const json& choice) {
  if (!choice.is_object()) throw usage_error("the choice must be a JSON object");
  std::string selected = selected_;
  std::vector<std::string> solo = solo_;
  for (const auto& [key, value] : choice.items()) {
    if (key == "selected") {
      if (!value.is_string()) throw usage_error("\"selected\" must be a light's name");
      selected = light_named(value.get<std::string>());
    } else if (key == "solo") {
      if (!value.is_array()) throw usage_error("\"solo\" must be an array of lights' names");
      solo.clear();
      for (const auto& name : value) {
        if (!name.is_string()) throw usage_error("\"solo\" must be an array of lights' names");
        if (!file_.is_rig()) throw usage_error("these settings are one light: there is nothing to solo");
        const std::string& found = light_named(name.get<std::string>());
        if (std::find(solo.begin(), solo.end(), found) == solo.end()) solo.push_back(found);
      }
    } else {
      throw usage_error(fmt::format("\"{}\" is not selected or solo", text::escape_controls(key)));
    }
  }
  if (solo != solo_) ++generation_;
  selected_ = selected;
  solo_ = solo;
  return lights();
}

void ViewerState::reduce_inputs(double scale) {
  if (reduced_images_scale_ == scale) return;
  const Box& data = session_->geometry().data;
  const int w = scaled(data.w(), scale), h = scaled(data.h(), scale);
  reduced_.reset();
  reduced_session_.reset();
  reduced_images_ = {};
  reduced_images_scale_ = 0;
  for (int slot = 0; slot < hosting::kInputCount; ++slot)
    if (const auto full = session_->input(slot))
      reduced_images_[static_cast<std::size_t>(slot)] = reduced_copy(*full, data, w, h);
  reduced_images_scale_ = scale;
}

hosting::RigSession& ViewerState::rig_at(double scale) {
  const Box& data = session_->geometry().data;
  const int w = scaled(data.w(), scale), h = scaled(data.h(), scale);
  if (w >= data.w() && h >= data.h()) return *rig_;
  reduce_inputs(scale);
  if (!reduced_ || reduced_scale_ != scale || reduced_structure_ != structure_) {
    reduced_.reset();
    auto reduced =
        std::make_unique<hosting::RigSession>(session_->node().description(), unmuted(file_), frame_);
    const Box box(0, 0, w, h);
    reduced->set_inputs(hosting::ImageGeometry{box, box}, reduced_images_, hosting::LightSpace::node,
                        hosting::NormalEncoding::signed_values);
    for (const auto& light : file_.lights)
      if (light.mask)
        reduced->set_mask(light.name, reduced_copy(*masks_.at(mask_key(*light.mask, frame_)), data, w, h));
    reduced_ = std::move(reduced);
    reduced_scale_ = scale;
    reduced_structure_ = structure_;
    reduced_generation_ = -1;
  }
  if (reduced_generation_ != generation_) {
    for (const auto& name : names()) reduced_->light(name).apply(rig_->light(name).settings());
    reduced_generation_ = generation_;
  }
  return *reduced_;
}

hosting::Session& ViewerState::session_at(double scale) {
  const Box& data = session_->geometry().data;
  const int w = scaled(data.w(), scale), h = scaled(data.h(), scale);
  hosting::Node& light = rig_->light("");
  if (w >= data.w() && h >= data.h()) {
    if (session_generation_ != generation_) session_->node().apply(light.settings());
    session_generation_ = generation_;
    return *session_;
  }
  reduce_inputs(scale);
  if (!reduced_session_ || reduced_session_scale_ != scale) {
    reduced_session_.reset();
    auto reduced = std::make_unique<hosting::Session>(session_->node().description());
    const Box box(0, 0, w, h);
    reduced->set_inputs(hosting::ImageGeometry{box, box}, reduced_images_);
    reduced_session_ = std::move(reduced);
    reduced_session_scale_ = scale;
    reduced_session_generation_ = -1;
  }
  if (reduced_session_generation_ != generation_) reduced_session_->node().apply(light.settings());
  reduced_session_generation_ = generation_;
  return *reduced_session_;
}

const ImageBuffer& ViewerState::rendered(double scale, const std::optional<std::string>& light,
                                         double& render_ms) {
  render_ms = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::string* alone = light && file_.is_rig() ? &light_named(light) : nullptr;
  if (alone) {
    // A light kept in the beauty has its layer there already.
    if (beauty_.generation == generation_ && beauty_.scale == scale && beauty_.result)
      for (const auto& [name, layer] : beauty_.result->layers)
        if (name == *alone) return layer;
    if (alone_.generation == generation_ && alone_.scale == scale && alone_.light == *alone && alone_.result)
      return alone_.result->beauty;
    alone_.result.reset();
    hosting::RigSession& s = rig_at(scale);
    alone_.result = s.render(0, {*alone}, frame_);
    alone_.generation = generation_;
    alone_.scale = scale;
    alone_.light = *alone;
    render_ms = since_ms(start);
    return alone_.result->beauty;
  }
  if (beauty_.generation == generation_ && beauty_.scale == scale && beauty_.result)
    return beauty_.result->beauty;
  beauty_.result.reset();
  if (!file_.is_rig()) {
    // One light: its output is the beauty, without the copy a rig's sum makes.
    beauty_.result = hosting::RigSession::Result{session_at(scale).render(), {}};
    beauty_.generation = generation_;
    beauty_.scale = scale;
    render_ms = since_ms(start);
    return beauty_.result->beauty;
  }
  hosting::RigSession& s = rig_at(scale);
  const std::vector<std::string> keep = kept();
  if (keep.empty()) {
    // Every light muted: black, as the command renders it.
    const Box& data = session_->geometry().data;
    const Box box = &s == rig_.get() ? data : Box(0, 0, scaled(data.w(), scale), scaled(data.h(), scale));
    beauty_.result =
        hosting::RigSession::Result{ImageBuffer(box, {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha}), {}};
  } else {
    beauty_.result = s.render(0, keep, frame_);
  }
  beauty_.generation = generation_;
  beauty_.scale = scale;
  render_ms = since_ms(start);
  return beauty_.result->beauty;
}

std::string ViewerState::preview_png(double scale, double exposure, double& render_ms,
                                     const std::optional<std::string>& light, int width) {
  if (!(scale > 0.0 && scale <= 1.0)) throw usage_error("scale must be a number above 0 and at most 1");
  // Checked before a render that an exposure it cannot show would waste.
  hosting::PreviewView view = view_;
  view.exposure = exposure;
  hosting::preview_codes(ImageBuffer(Box(0, 0, 1, 1), {Chan_Red, Chan_Green, Chan_Blue}), view);
  if (width < 0) throw usage_error("width must be a whole number above 0");
  const ImageBuffer& image = rendered(scale, light, render_ms);
  const Box& box = image.box();
  if (width > 0 && width < box.w()) {
    const int height =
        std::max(1, static_cast<int>(std::lround(static_cast<double>(box.h()) * width / box.w())));
    return hosting::preview_png(hosting::preview_codes(*reduced_copy(image, box, width, height), view));
  }
  return hosting::preview_png(hosting::preview_codes(image, view));
}

std::string ViewerState::input_png(int slot, double scale, double exposure) {
  if (!(scale > 0.0 && scale <= 1.0)) throw usage_error("scale must be a number above 0 and at most 1");
  const Box& data = session_->geometry().data;
  const bool full = scaled(data.w(), scale) >= data.w() && scaled(data.h(), scale) >= data.h();
  if (!full) reduce_inputs(scale);
  const auto image = full ? session_->input(slot) : reduced_images_[static_cast<std::size_t>(slot)];
  if (!image)
    throw usage_error(
        fmt::format("the {} input is not connected", hosting::kInputLabels[static_cast<std::size_t>(slot)]));
  const hosting::PreviewKind kind = slot == hosting::kNormal  ? hosting::PreviewKind::normals
                                    : slot == hosting::kColor ? hosting::PreviewKind::colour
                                                              : hosting::PreviewKind::positions;
  if (kind == hosting::PreviewKind::normals && space_ == hosting::LightSpace::world) {
    // The session holds world normals as the node reads them, z negated: shown as the file holds them.
    ImageBuffer file(image->box(), {Chan_Red, Chan_Green, Chan_Blue});
    const int c[3] = {image->channel_index(Chan_Red), image->channel_index(Chan_Green),
                      image->channel_index(Chan_Blue)};
    const Box& b = image->box();
    for (int y = b.y(); y < b.t(); ++y)
      for (int x = b.x(); x < b.r(); ++x) {
        file.at(x, y, 0) = image->at(x, y, c[0]);
        file.at(x, y, 1) = image->at(x, y, c[1]);
        file.at(x, y, 2) = -image->at(x, y, c[2]);
      }
    return hosting::preview_png(file, kind, exposure);
  }
  if (kind != hosting::PreviewKind::colour) return hosting::preview_png(*image, kind, exposure);
  hosting::PreviewView view = view_;
  view.exposure = exposure;
  return hosting::preview_png(hosting::preview_codes(*image, view));
}

json ViewerState::colour() {
  const hosting::ColourConfigInfo& info = hosting::colour_config();
  const hosting::DisplayView chosen = hosting::resolve_display_view(view_.display, view_.view, view_.look);
  json displays = json::object();
  for (const auto& [display, views] : info.displays) displays[display] = views;
  return {{"config", info.path},  {"displays", displays},
          {"looks", info.looks},  {"display", chosen.display},
          {"view", chosen.view},  {"look", chosen.look},
          {"gamma", view_.gamma}, {"working_space", info.working_space}};
}

json ViewerState::set_colour(const json& choice) {
  if (!choice.is_object()) throw usage_error("the colour choice must be a JSON object");
  hosting::PreviewView next = view_;
  for (const auto& [key, value] : choice.items()) {
    if (key == "gamma") {
      if (!value.is_number()) throw usage_error("\"gamma\" must be a number");
      next.gamma = value.get<double>();
      continue;
    }
    if (key != "display" && key != "view" && key != "look")
      throw usage_error(fmt::format("\"{}\" is not display, view, look or gamma", key));
    if (!value.is_string()) throw usage_error(fmt::format("\"{}\" must be a string", key));
    (key == "display" ? next.display : key == "view" ? next.view : next.look) = value.get<std::string>();
  }
  // Another display keeps no view of the one before unless it was named with it.
  if (choice.contains("display") && !choice.contains("view")) next.view.reset();
  if (next.look && next.look->empty()) next.look.reset();
  // Checked whole before anything changes: names against the config, the gamma by the encoder.
  hosting::preview_codes(ImageBuffer(Box(0, 0, 1, 1), {Chan_Red, Chan_Green, Chan_Blue}), next);
  view_ = next;
  return colour();
}

hosting::Surface ViewerState::surface(int x, int y) { return hosting::surface_at(*session_, x, y, space_); }

json ViewerState::pick(int x, int y, std::optional<double> distance,
                       const std::optional<std::string>& light) {
  const std::string name = light_named(light);
  const hosting::Surface s = surface(x, y);
  const json settings = hosting::light_facing(rig_->light(name), s, space_, distance.value_or(distance_),
                                              fmt::format("pixel {}, {}", x, y));
  json panel_now = apply(settings, name);
  return {{"P", s.position}, {"N", s.normal}, {"set", settings}, {"panel", panel_now}, {"light", name}};
}

json ViewerState::save() {
  if (!setup_.save) throw usage_error("nowhere to save: start quorlen view with --save FILE.json");
  hosting::write_settings_file(*setup_.save, doc_);
  if (command_file() == *setup_.save) command_holds_ = doc_;
  return {{"path", *setup_.save}};
}

json ViewerState::render_output() {
  if (!setup_.output) throw usage_error("nowhere to render: start quorlen view with -o OUT");
  if (!setup_.request) throw usage_error("nothing to render: the viewer was not started from a request");
  const auto start = std::chrono::steady_clock::now();
  // The command's own render of the rig held in memory: the same reading, sum, layers and writer.
  hosting::RenderRequest request = *setup_.request;
  request.output = *setup_.output;
  request.settings = hosting::NodeSettings{};
  request.settings.values = doc_;
  request.light_space = space_;
  request.normal_encoding = encoding_;
  request.normal_space = normal_space_;
  request.normal_flip = normal_flip_;
  request.solo = file_.is_rig() ? solo_ : std::vector<std::string>{};
  request.mute.clear();
  request.dry_run = false;
  request.settings.frame = frame_;
  if (request.frames || frame_ != 0) request.frames = hosting::FrameList{{static_cast<int>(frame_)}};
  std::ostringstream ignored;
  hosting::run_render(request, session_->node().description(), ignored);
  return {{"path", *setup_.output}, {"render_ms", since_ms(start)}};
}

std::string ViewerState::command_file() const {
  return setup_.save ? *setup_.save : setup_.settings_path ? *setup_.settings_path : std::string("rig.json");
}

std::string ViewerState::command() {
  std::string line = "quorlen render";
  for (const auto& a : setup_.input_arguments) line += " " + shell_quote(a);
  if (file_.is_rig()) {
    // A rig is a file's: the command reads it, and solos what the page solos.
    line += " --settings " + shell_quote(command_file());
    for (const auto& s : solo_) line += " --solo " + shell_quote(s);
  } else {
    for (const auto& change : rig_->light("").changed_knobs()) line += " --set " + shell_quote(change);
  }
  // The view chosen, when it is not the default, so that a PNG from the command shows what the page does
  // (the gamma is a view control alone, as the exposure is).
  if (view_.display) line += " --display " + shell_quote(*view_.display);
  if (view_.view) line += " --view " + shell_quote(*view_.view);
  if (view_.look) line += " --look " + shell_quote(*view_.look);
  // A shot renders the frame shown.
  if ((setup_.request && setup_.request->frames) || frame_ != 0) line += fmt::format(" --frames {}", frame_);
  line += " -o " + shell_quote(setup_.output.value_or("relit.png"));
  return line;
}

json ViewerState::command_reply() {
  json reply = {{"command", command()}, {"settings", nullptr}, {"saved", true}, {"note", ""}};
  if (!file_.is_rig()) return reply;
  const std::string path = command_file();
  const bool holds = command_holds_ && *command_holds_ == doc_;
  reply["settings"] = path;
  reply["saved"] = holds;
  if (holds) return reply;
  if (setup_.save)
    reply["note"] = fmt::format("the command reads the rig from {}: press Save first", path);
  else if (setup_.settings_path)
    reply["note"] = fmt::format(
        "the command reads the rig from {}, which does not hold the rig shown: start quorlen view with "
        "--save "
        "FILE.json and press Save",
        path);
  else
    reply["note"] =
        "a rig is read from a settings file: start quorlen view with --save rig.json and press Save";
  return reply;
}

json settings_with_sets(const DD::Image::Op::Description& description, json doc,
                        const std::vector<hosting::KnobSetting>& sets) {
  if (sets.empty()) return doc;
  const hosting::RigFile file = hosting::parse_rig(doc, "settings");
  hosting::Node scratch(description);
  for (const auto& set : sets) {
    const hosting::LightSetting split = hosting::light_setting(file, set);
    try {
      scratch.set(split.setting.name, split.setting.value);
    } catch (const hosting::Error& e) {
      throw usage_error(fmt::format("--set {}={}: {}", set.name, set.value, e.what()));
    }
    const json all = scratch.settings();
    const json value = all.contains(split.setting.name) ? all[split.setting.name] : json(split.setting.value);
    if (!split.light) {
      doc[split.setting.name] = value;
      if (file.is_rig())
        for (auto& light : doc["lights"])
          if (light.contains("knobs") && light["knobs"].is_object()) light["knobs"].erase(split.setting.name);
      continue;
    }
    for (auto& light : doc["lights"])
      if (light.value("name", "") == *split.light) {
        if (!light.contains("knobs") || !light["knobs"].is_object()) light["knobs"] = json::object();
        light["knobs"][split.setting.name] = value;
      }
  }
  return doc;
}

void keep_freed_memory() {
  // Blocks up to 256 MiB come from the heap rather than their own mappings, and the heap is not trimmed
  // below 1 GiB of free space.
  ::mallopt(M_MMAP_THRESHOLD, 256 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

std::string shell_quote(const std::string& word) {
  const bool plain = !word.empty() && word.find_first_not_of(
                                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789_-+=.,/:@%") == std::string::npos;
  if (plain) return word;
  std::string out = "'";
  for (char ch : word) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

}  // namespace quorlen::viewer
