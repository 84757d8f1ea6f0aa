/// \file rig_session.cpp  A rig rendered on inputs held in memory, the same arithmetic as a streamed render.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/rig_session.h>
#include <quorlen/session.h>
#include <tbb/task_arena.h>

#include <algorithm>

#include "hosting/frames/frame_camera.h"
#include "hosting/frames/frame_inputs.h"
#include "hosting/frames/frame_pattern.h"
#include "hosting/frames/region_renderer.h"
#include "hosting/rig/light_factor.h"
#include "hosting/rig/light_sum.h"
#include "text/strings.h"

namespace quorlen::hosting {

using DD::Image::Box;
using DD::Image::ImageBuffer;

RigSession::RigSession(const DD::Image::Op::Description& description, RigFile rig, double frame)
    : rig_(std::move(rig)), nodes_(light_nodes(description, rig_, {}, frame)) {}

RigSession::~RigSession() = default;

std::vector<std::string> RigSession::lights() const {
  std::vector<std::string> names;
  for (const auto& n : nodes_) names.push_back(n.name);
  return names;
}

Node& RigSession::light(std::string_view name) {
  for (auto& n : nodes_)
    if (n.name == name) return *n.node;
  const auto names = lights();
  const std::string near = text::closest_match(name, names);
  throw usage_error(fmt::format("no light named \"{}\" (lights: {}){}", text::escape_controls(name),
                                text::join(names),
                                near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
}

void RigSession::set_inputs(const ImageGeometry& geometry,
                            std::array<std::shared_ptr<const ImageBuffer>, kInputCount> images,
                            const PassReading& reading) {
  // A session checks and converts the images as it would for one light; its node is not used.
  Session checked(nodes_.front().node->description());
  checked.set_inputs(geometry, std::move(images), reading);
  for (int slot = 0; slot < kInputCount; ++slot)
    images_[static_cast<std::size_t>(slot)] = checked.input(slot);
  geometry_ = geometry;
  camera_.reset();
}

void RigSession::set_mask(std::string_view name, std::shared_ptr<const ImageBuffer> image) {
  light(name);  // names a light, or says which there are
  if (image && (image->box() != geometry_.data || image->channel_index(DD::Image::Chan_Red) < 0))
    throw usage_error(fmt::format("mask of light \"{}\": it must cover the inputs' {}", name,
                                  describe_box(geometry_.data)));
  if (image)
    masks_[std::string(name)] = std::move(image);
  else
    masks_.erase(std::string(name));
}

std::shared_ptr<const ImageBuffer> RigSession::file_mask(std::string_view name, double frame) {
  light(name);  // names a light, or says which there are
  const RigLight* light = nullptr;
  for (const auto& n : nodes_)
    if (n.name == name) light = n.light;
  if (!light || !light->mask) return nullptr;
  if (!images_[kNormal]) throw usage_error("no inputs to read a mask over: connect a normal input first");
  const auto colon = light->mask->rfind(':');
  std::string file = light->mask->substr(0, colon);
  if (has_frame_pattern(file)) file = substitute_frame(file, static_cast<int>(std::lround(frame)));
  LayerReader reader =
      open_mask(MaskSource{file, light->mask->substr(colon + 1), fmt::format("light \"{}\"", light->name)},
                kDefaultMaxPixels);
  auto read = std::make_shared<ImageBuffer>(
      geometry_.data,
      std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  reader.read_into(*read);
  return read;
}

void RigSession::clear_inputs() {
  images_ = {};
  masks_.clear();
  camera_.reset();
}

FrameCamera& RigSession::camera() {
  if (!camera_) camera_ = frame_camera_of(*images_[kPosition], geometry_);
  return *camera_;
}

void RigSession::check_options() {
  for (const LightNode& n : nodes_) {
    if (!needs_frame_p(n.light)) continue;
    const std::string who = fmt::format("light \"{}\"", n.name);
    if (n.light->spot && n.node->value_text("lightType") == "parallel")
      throw usage_error(spot_on_parallel(who));
    if (!images_[kPosition]) throw usage_error(who + ": shadows and spots need a P input");
    if (!n.light->shadow) continue;
    camera().require(who + ": shadow");
  }
}

RigSession::Result RigSession::render(int threads, const std::vector<std::string>& solo, double frame) {
  if (!images_[kNormal]) throw usage_error("no inputs to render: connect a normal input first");
  const std::vector<bool> kept = rig_.is_rig() ? lights_kept(rig_, solo, {}) : std::vector<bool>{true};
  BandInputs inputs;
  inputs.box = geometry_.data;
  inputs.images = images_;
  std::vector<std::shared_ptr<ImageBuffer>> layers;
  std::vector<std::string> names;
  // Shadows and spots need the whole of P, and shadows its camera: found once for every light.
  FrameCamera* camera = nullptr;
  for (std::size_t i = 0; i < nodes_.size(); ++i)
    if (kept[i] && needs_frame_p(nodes_[i].light) && !camera) {
      if (!images_[kPosition])
        throw usage_error(fmt::format("light \"{}\": shadows and spots need a P input", nodes_[i].name));
      camera = &this->camera();
    }
  const auto run = [&] {
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      if (!kept[i]) continue;
      RegionRenderer renderer(nodes_[i].node->op(), DD::Image::RenderOptions{0, 0, 0});
      auto out = renderer.render(inputs, geometry_, geometry_.data);
      const RigLight* light = nodes_[i].light;
      if (needs_frame_p(light))
        if (const auto factor = LightFactor::make(*nodes_[i].node, *light, *camera,
                                                  fmt::format("light \"{}\"", nodes_[i].name)))
          factor->apply(*out);
      std::shared_ptr<const ImageBuffer> mask;
      if (const auto given = masks_.find(nodes_[i].name); given != masks_.end()) {
        mask = given->second;
      } else if (light && light->mask) {
        mask = file_mask(light->name, frame);
      }
      if (mask) apply_mask(*mask, light && light->mask_invert, *out);
      layers.push_back(std::move(out));
      names.push_back(nodes_[i].name);
    }
  };
  if (threads > 0) {
    tbb::task_arena arena(threads);
    arena.execute(run);
  } else {
    run();
  }
  Result result;
  result.beauty = std::move(*beauty_of(layers, geometry_.data));
  for (std::size_t i = 0; i < layers.size(); ++i) result.layers.emplace_back(names[i], std::move(*layers[i]));
  return result;
}

}  // namespace quorlen::hosting
