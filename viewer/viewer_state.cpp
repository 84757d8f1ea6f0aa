/// \file viewer_state.cpp  The viewer's operations on its session.
#include "viewer/viewer_state.h"

#include <fmt/format.h>
#include <malloc.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/images.h>
#include <quorlen/lighting.h>
#include <quorlen/preview.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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

}  // namespace

ViewerState::ViewerState(std::unique_ptr<hosting::Session> session, hosting::PassReading reading,
                         ViewSetup setup)
    : session_(std::move(session)),
      space_(reading.light_space),
      encoding_(reading.normal_encoding),
      setup_(std::move(setup)) {}

ViewerState::~ViewerState() = default;

json ViewerState::panel() { return session_->node().panel(); }

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

std::string ViewerState::preview_png(double scale, double exposure, double& render_ms) {
  if (!(scale > 0.0 && scale <= 1.0)) throw usage_error("scale must be a number above 0 and at most 1");
  // Checked before a render that an exposure it cannot show would waste.
  hosting::PreviewView view = view_;
  view.exposure = exposure;
  hosting::preview_codes(ImageBuffer(Box(0, 0, 1, 1), {Chan_Red, Chan_Green, Chan_Blue}), view);
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
  return hosting::preview_png(hosting::preview_codes(*last_, view));
}

std::string ViewerState::input_png(int slot, double scale, double exposure) {
  if (!(scale > 0.0 && scale <= 1.0)) throw usage_error("scale must be a number above 0 and at most 1");
  hosting::Session& s = session_at(scale);
  const auto image = s.input(slot);
  if (!image)
    throw usage_error(
        fmt::format("the {} input is not connected", hosting::kInputLabels[static_cast<std::size_t>(slot)]));
  const hosting::PreviewKind kind = slot == hosting::kNormal  ? hosting::PreviewKind::normals
                                    : slot == hosting::kColor ? hosting::PreviewKind::colour
                                                              : hosting::PreviewKind::positions;
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

json ViewerState::pick(int x, int y, double distance) {
  const hosting::Surface s = surface(x, y);
  const json settings =
      hosting::light_facing(session_->node(), s, space_, distance, fmt::format("pixel {}, {}", x, y));
  json panel_now = apply(settings);
  return {{"P", s.position}, {"N", s.normal}, {"set", settings}, {"panel", panel_now}};
}

json ViewerState::settings() { return session_->node().settings(); }

json ViewerState::saved_settings() {
  json out = settings();
  out["lightSpace"] = hosting::word_of(space_);
  out["normalEncoding"] = hosting::word_of(encoding_);
  return out;
}

json ViewerState::save() {
  if (!setup_.save) throw usage_error("nowhere to save: start quorlen view with --save FILE.json");
  hosting::write_settings_file(*setup_.save, saved_settings());
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
  // The view chosen, when it is not the default, so that a PNG from the command shows what the page does
  // (the gamma is a view control alone, as the exposure is).
  if (view_.display) line += " --display " + shell_quote(*view_.display);
  if (view_.view) line += " --view " + shell_quote(*view_.view);
  if (view_.look) line += " --look " + shell_quote(*view_.look);
  line += " -o " + shell_quote(setup_.output.value_or("relit.png"));
  return line;
}

}  // namespace quorlen::viewer
