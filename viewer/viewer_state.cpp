/// \file viewer_state.cpp  The viewer's operations on its session.
#include "viewer/viewer_state.h"

#include <fmt/format.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "DDImageHost/KnobAccess.h"
#include "hosting/errors.h"
#include "hosting/images/image_writer.h"
#include "hosting/system/atomic_file.h"

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

// The linear value that the sRGB encoding turns back into `shown`, so a view can put display values
// through the same writer as the preview.
float srgb_decode(float shown) {
  if (!(shown > 0.0f)) return 0.0f;
  if (shown >= 1.0f) return 1.0f;
  if (shown <= 0.04045f) return shown / 12.92f;
  return static_cast<float>(std::pow((shown + 0.055) / 1.055, 2.4));
}

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int scaled(int length, double scale) {
  return std::max(1, static_cast<int>(std::lround(static_cast<double>(length) * scale)));
}

}  // namespace

bool Surface::empty() const {
  for (int k = 0; k < 3; ++k)
    if (position[k] != 0.0f || normal[k] != 0.0f) return false;
  return true;
}

ViewerState::ViewerState(std::unique_ptr<hosting::Session> session, hosting::LightSpace space,
                         ViewSetup setup)
    : session_(std::move(session)), space_(space), setup_(std::move(setup)) {
  // Previews go through the output writer, which writes files; they pass through a directory of our own.
  std::string pattern = (std::filesystem::temp_directory_path() / "quorlen-view-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw hosting::output_error("cannot create a temporary directory");
  scratch_dir_ = pattern;
}

ViewerState::~ViewerState() {
  std::error_code ignored;
  std::filesystem::remove_all(scratch_dir_, ignored);
}

json ViewerState::panel() { return session_->node().panel(); }

json ViewerState::info() {
  const Box& data = session_->geometry().data;
  json inputs = json::array();
  for (int slot = 0; slot < hosting::kInputCount; ++slot)
    if (session_->input(slot)) inputs.push_back(hosting::kInputLabels[static_cast<std::size_t>(slot)]);
  return {{"width", data.w()},
          {"height", data.h()},
          {"inputs", inputs},
          {"light_space", space_ == hosting::LightSpace::world ? "world" : "node"},
          {"output", setup_.output ? json(*setup_.output) : json(nullptr)},
          {"save", setup_.save ? json(*setup_.save) : json(nullptr)},
          {"generation", generation_}};
}

json ViewerState::apply(const json& settings) {
  session_->node().apply(settings);
  ++generation_;
  return panel();
}

hosting::Session& ViewerState::session_at(double scale) {
  const Box& data = session_->geometry().data;
  const int w = scaled(data.w(), scale), h = scaled(data.h(), scale);
  if (w >= data.w() && h >= data.h()) return *session_;
  if (!reduced_ || reduced_scale_ != scale) {
    // Every reduced pixel takes the input samples at the nearest full-resolution pixel, so positions and
    // normals stay those of real surfaces.
    auto reduced = std::make_unique<hosting::Session>(session_->node().description());
    const Box box(0, 0, w, h);
    std::array<std::shared_ptr<const ImageBuffer>, hosting::kInputCount> images;
    for (int slot = 0; slot < hosting::kInputCount; ++slot) {
      const auto full = session_->input(slot);
      if (!full) continue;
      auto small = std::make_shared<ImageBuffer>(
          box, std::vector<DD::Image::Channel>{Chan_Red, Chan_Green, Chan_Blue});
      const int c[3] = {full->channel_index(Chan_Red), full->channel_index(Chan_Green),
                        full->channel_index(Chan_Blue)};
      for (int y = 0; y < h; ++y) {
        const int sy =
            data.y() + static_cast<int>((static_cast<long long>(y) * 2 + 1) * data.h() / (2LL * h));
        for (int x = 0; x < w; ++x) {
          const int sx =
              data.x() + static_cast<int>((static_cast<long long>(x) * 2 + 1) * data.w() / (2LL * w));
          for (int k = 0; k < 3; ++k) small->at(x, y, k) = full->at(sx, sy, c[k]);
        }
      }
      images[static_cast<std::size_t>(slot)] = std::move(small);
    }
    reduced->set_inputs(hosting::ImageGeometry{box, box}, std::move(images));
    reduced_ = std::move(reduced);
    reduced_scale_ = scale;
  }
  reduced_->node().apply(settings());
  return *reduced_;
}

std::string ViewerState::encode_png(const ImageBuffer& rgb, int slot_for_view, double exposure) {
  const Box& box = rgb.box();
  ImageBuffer rgba(box, {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha});
  const int c[3] = {rgb.channel_index(Chan_Red), rgb.channel_index(Chan_Green), rgb.channel_index(Chan_Blue)};
  const float gain = static_cast<float>(std::exp2(exposure));
  // Positions are shown spread over the range they cover, each component on its own.
  float low[3] = {0, 0, 0}, high[3] = {1, 1, 1};
  if (slot_for_view == hosting::kPosition || slot_for_view == hosting::kNoisePosition) {
    for (int k = 0; k < 3; ++k) {
      low[k] = INFINITY;
      high[k] = -INFINITY;
    }
    for (int y = box.y(); y < box.t(); ++y)
      for (int x = box.x(); x < box.r(); ++x)
        for (int k = 0; k < 3; ++k)
          if (std::isfinite(rgb.at(x, y, c[k]))) {
            low[k] = std::min(low[k], rgb.at(x, y, c[k]));
            high[k] = std::max(high[k], rgb.at(x, y, c[k]));
          }
  }
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x)
      for (int k = 0; k < 3; ++k) {
        const float v = rgb.at(x, y, c[k]);
        float& out = rgba.at(x, y, k);
        if (slot_for_view == hosting::kNormal)
          out = srgb_decode(0.5f * v + 0.5f);
        else if (slot_for_view == hosting::kPosition || slot_for_view == hosting::kNoisePosition)
          out = srgb_decode(high[k] > low[k] ? (v - low[k]) / (high[k] - low[k]) : 0.0f);
        else
          // No exposure leaves the render's values untouched, so the codes equal those of a render's PNG.
          out = exposure == 0.0 ? v : v * gain;
      }
  const std::string path = scratch_dir_ + "/view.png";
  // The same codes as a render's PNG, stored with less compression: a preview is encoded after every
  // change and only crosses the loopback.
  hosting::OutputPlan plan = hosting::plan_output(path);
  plan.fast = true;
  hosting::ImageWriter writer(plan, hosting::ImageGeometry{box, box});
  writer.write_lines(rgba);
  writer.commit();
  std::string bytes = read_bytes(path);
  ::unlink(path.c_str());
  if (bytes.empty()) throw hosting::output_error("the preview could not be encoded");
  return bytes;
}

std::string ViewerState::preview_png(double scale, double exposure, double& render_ms) {
  if (!(scale > 0.0 && scale <= 1.0)) throw usage_error("scale must be a number above 0 and at most 1");
  if (!std::isfinite(exposure) || std::abs(exposure) > 64)
    throw usage_error("exposure must be a number of stops between -64 and 64");
  render_ms = 0;
  if (!last_ || last_generation_ != generation_ || last_scale_ != scale) {
    const auto start = std::chrono::steady_clock::now();
    hosting::Session& s = session_at(scale);
    last_.reset();
    last_ = s.render();
    last_generation_ = generation_;
    last_scale_ = scale;
    render_ms = since_ms(start);
  }
  return encode_png(*last_, hosting::kColor, exposure);
}

std::string ViewerState::input_png(int slot, double scale, double exposure) {
  if (!(scale > 0.0 && scale <= 1.0)) throw usage_error("scale must be a number above 0 and at most 1");
  if (!std::isfinite(exposure) || std::abs(exposure) > 64)
    throw usage_error("exposure must be a number of stops between -64 and 64");
  hosting::Session& s = session_at(scale);
  const auto image = s.input(slot);
  if (!image)
    throw usage_error(
        fmt::format("the {} input is not connected", hosting::kInputLabels[static_cast<std::size_t>(slot)]));
  return encode_png(*image, slot, exposure);
}

Surface ViewerState::surface(int x, int y) {
  const Box& data = session_->geometry().data;
  if (x < 0 || y < 0 || x >= data.w() || y >= data.h())
    throw usage_error(fmt::format("pixel {}, {} is outside the {}x{} image", x, y, data.w(), data.h()));
  Surface s;
  const auto read = [&](int slot, float* out) {
    const auto image = session_->input(slot);
    if (!image) return;
    const int c[3] = {image->channel_index(Chan_Red), image->channel_index(Chan_Green),
                      image->channel_index(Chan_Blue)};
    for (int k = 0; k < 3; ++k) out[k] = image->at(data.x() + x, data.y() + y, c[k]);
  };
  read(hosting::kPosition, s.position);
  read(hosting::kNormal, s.normal);
  // The session holds normals as the node reads them: in world space their z is negated. Shown and used
  // here in the passes' own convention.
  if (space_ == hosting::LightSpace::world) s.normal[2] = -s.normal[2];
  return s;
}

json ViewerState::pick(int x, int y, double distance) {
  if (!std::isfinite(distance)) throw usage_error("distance must be a finite number");
  const Surface s = surface(x, y);
  if (s.empty()) throw usage_error(fmt::format("pixel {}, {} shows no surface: its P and N are zero", x, y));
  // The node lights with its light vector's z negated. In the node's own convention the light therefore
  // sits along the normal mirrored in z; in world space the normals reach the node with z negated already,
  // which cancels that, and the light sits along the normal itself.
  double n[3] = {s.normal[0], s.normal[1], s.normal[2]};
  if (space_ == hosting::LightSpace::node) n[2] = -n[2];
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 0.0) || !std::isfinite(length))
    throw usage_error(fmt::format("pixel {}, {} has no usable normal", x, y));
  for (double& v : n) v /= length;
  const bool point = session_->node().value_text("lightType") != "parallel";
  json settings;
  if (point)
    settings["_pointLightPos"] = {s.position[0] + distance * n[0], s.position[1] + distance * n[1],
                                  s.position[2] + distance * n[2]};
  else
    settings["_parallelLightDir"] = {n[0], n[1], n[2]};
  json panel_now = apply(settings);
  return {{"P", {s.position[0], s.position[1], s.position[2]}},
          {"N", {s.normal[0], s.normal[1], s.normal[2]}},
          {"set", settings},
          {"panel", panel_now}};
}

json ViewerState::settings() {
  json out = json::object();
  const json described = panel();
  for (const json& k : described["knobs"]) {
    if (!k["name"].is_string() || k["value"].is_null()) continue;
    const std::string name = k["name"];
    // Choices and bit sets are kept by their labels, which survive a reordering of the entries.
    if (k["kind"] == "enumeration" || k["kind"] == "bitmask")
      out[name] = session_->node().value_text(name);
    else
      out[name] = k["value"];
  }
  return out;
}

json ViewerState::save() {
  if (!setup_.save) throw usage_error("nowhere to save: start quorlen view with --save FILE.json");
  {
    hosting::AtomicFile file(*setup_.save);
    std::ofstream out(file.temp_path(), std::ios::binary);
    out << settings().dump(2) << '\n';
    out.close();
    if (!out) throw hosting::output_error(fmt::format("cannot write \"{}\"", *setup_.save));
    file.commit();
  }
  return {{"path", *setup_.save}};
}

json ViewerState::render_output() {
  if (!setup_.output) throw usage_error("nowhere to render: start quorlen view with -o OUT");
  const auto start = std::chrono::steady_clock::now();
  const ImageBuffer frame = session_->render();
  hosting::write_image(*setup_.output, session_->geometry(), frame);
  return {{"path", *setup_.output}, {"render_ms", since_ms(start)}};
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

std::string ViewerState::command() {
  std::string line = "quorlen render";
  for (const auto& a : setup_.input_arguments) line += " " + shell_quote(a);
  for (const auto& change : session_->node().changed_knobs()) line += " --set " + shell_quote(change);
  line += " -o " + shell_quote(setup_.output.value_or("relit.png"));
  return line;
}

}  // namespace quorlen::viewer
