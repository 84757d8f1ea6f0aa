/// \file frame_lights.cpp  A frame's lights, from the settings file (a rig or one light) and the command
/// line.
#include "hosting/rig/frame_lights.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <quorlen/errors.h>

#include "hosting/frames/frame_pattern.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

std::string path_for(const RenderRequest& request, const std::string& path, int frame) {
  return request.frames ? substitute_frame(path, frame) : path;
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& k : items) out += (out.empty() ? "" : " ") + k;
  return out;
}

}  // namespace

std::vector<std::string> FrameLights::kept_names() const {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < nodes.size(); ++i)
    if (kept[i]) names.push_back(nodes[i].name);
  return names;
}

NodeSettings settings_at(const RenderRequest& request, int frame) {
  NodeSettings settings = request.settings;
  if (settings.settings_file) settings.settings_file = path_for(request, *settings.settings_file, frame);
  settings.frame = frame;
  return settings;
}

FrameLights frame_lights(const DD::Image::Op::Description& description, const RenderRequest& request,
                         int frame) {
  const NodeSettings settings = settings_at(request, frame);
  FrameLights lights;
  lights.rig = rig_of(settings);
  lights.nodes = light_nodes(description, lights.rig, settings.sets, settings.frame);
  if (lights.rig.is_rig()) {
    lights.kept = lights_kept(lights.rig, request.solo, request.mute);
  } else {
    if (!request.solo.empty() || !request.mute.empty())
      throw usage_error(fmt::format("--{} names a light, and the settings hold no lights",
                                    request.solo.empty() ? "mute" : "solo"));
    lights.kept = {true};
  }
  lights.mask_index.assign(lights.nodes.size(), -1);
  return lights;
}

void add_masks(FrameLights& lights, const RenderRequest& request, int frame, FrameSources& sources) {
  int kept = 0;
  for (std::size_t i = 0; i < lights.nodes.size(); ++i) {
    if (!lights.kept[i]) continue;
    ++kept;
    const RigLight* light = lights.nodes[i].light;
    if (!light || !light->mask) continue;
    const std::string& mask = *light->mask;
    const auto colon = mask.rfind(':');
    lights.mask_index[i] = static_cast<int>(sources.masks.size());
    sources.masks.push_back(MaskSource{path_for(request, mask.substr(0, colon), frame),
                                       mask.substr(colon + 1), fmt::format("light \"{}\"", light->name)});
  }
  // Each light's output stays in memory until the band is written.
  if (!lights.single()) sources.output_floats = 4 + 4 * kept;
}

std::vector<LightPass> light_passes(const FrameLights& lights) {
  std::vector<LightPass> passes;
  for (std::size_t i = 0; i < lights.nodes.size(); ++i)
    if (lights.kept[i]) {
      const RigLight* light = lights.nodes[i].light;
      passes.push_back(
          LightPass{&lights.nodes[i].node->op(), lights.mask_index[i], light && light->mask_invert});
    }
  return passes;
}

void print_lights(std::ostream& out, FrameLights& lights, const DD::Image::Op::Description& description,
                  const RenderRequest& request, int frame) {
  if (lights.single()) {
    const auto changed = lights.nodes.front().node->changed_knobs();
    fmt::print(out, "knobs   {}\n", changed.empty() ? std::string("(defaults)") : joined(changed));
    return;
  }
  // What every light starts from: the shared values and the --set that name no light.
  RigFile shared_only = lights.rig;
  shared_only.lights.clear();
  NodeSettings settings = settings_at(request, frame);
  std::vector<KnobSetting> plain;
  for (const auto& s : settings.sets)
    if (!light_setting(lights.rig, s).light) plain.push_back(s);
  auto shared = light_nodes(description, shared_only, plain, settings.frame);
  const auto shared_knobs = shared.front().node->changed_knobs();
  fmt::print(out, "shared  {}\n", shared_knobs.empty() ? std::string("(defaults)") : joined(shared_knobs));
  for (std::size_t i = 0; i < lights.nodes.size(); ++i) {
    Node& node = *lights.nodes[i].node;
    const RigLight& light = *lights.nodes[i].light;
    std::vector<std::string> own;
    for (const auto& k : node.changed_knobs())
      if (std::find(shared_knobs.begin(), shared_knobs.end(), k) == shared_knobs.end()) own.push_back(k);
    // A shared knob a light set back to its default shows too.
    for (const auto& k : shared_knobs) {
      const std::string name = k.substr(0, k.find('='));
      const std::string now = name + "=" + node.value_text(name);
      if (now != k && std::find(own.begin(), own.end(), now) == own.end()) own.push_back(now);
    }
    std::string notes;
    if (light.mask) notes += fmt::format("  mask {}{}", *light.mask, light.mask_invert ? " (inverted)" : "");
    if (light.shadow)
      notes += fmt::format(
          "  shadow (size {:g}, angle {:g}, {} rays{}{}{})", light.shadow->size, light.shadow->angle,
          light.shadow->size > 0 || light.shadow->angle > 0 ? light.shadow->samples : 1,
          light.shadow->thickness ? fmt::format(", thickness {:g}", *light.shadow->thickness) : "",
          light.shadow->bias ? fmt::format(", bias {:g}", *light.shadow->bias) : "",
          light.shadow->max_distance ? fmt::format(", max distance {:g}", *light.shadow->max_distance) : "");
    if (light.spot)
      notes += fmt::format("  spot {:g},{:g},{:g} angle {:g} penumbra {:g}", light.spot->direction[0],
                           light.spot->direction[1], light.spot->direction[2], light.spot->angle,
                           light.spot->penumbra);
    if (!lights.kept[i]) notes += "  (not rendered: muted or not soloed)";
    fmt::print(out, "light   {}: {}{}\n", lights.nodes[i].name,
               own.empty() ? std::string("(shared)") : joined(own), notes);
  }
  if (request.light_layers) fmt::print(out, "layers  {}\n", text::join(lights.kept_names()));
}

}  // namespace quorlen::hosting
