/// \file light_nodes.cpp  One node a light: the shared values, the light's own, then the command line's.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/rig.h>

#include "DDImageHost/KnobAccess.h"
#include "hosting/node/knob_settings.h"

namespace quorlen::hosting {
namespace {

void apply_set(Node& node, const KnobSetting& s, const std::string& shown_name) {
  std::string error;
  if (!DD::Image::set_knob(node.op(), s.name, s.value, error))
    throw usage_error(fmt::format("--set {}={}: {}", shown_name, s.value, error));
}

}  // namespace

std::vector<LightNode> light_nodes(const DD::Image::Op::Description& description, const RigFile& rig,
                                   const std::vector<KnobSetting>& sets, double frame) {
  std::vector<LightSetting> split;
  for (const auto& s : sets) split.push_back(light_setting(rig, s));
  std::vector<LightNode> out;
  const auto make = [&](const RigLight* light) {
    LightNode made{light ? light->name : std::string(), std::make_unique<Node>(description), light};
    apply_values(made.node->op(), rig.shared, frame, rig.source);
    if (light)
      apply_values(made.node->op(), light->knobs, frame,
                   fmt::format("{}: light \"{}\"", rig.source, light->name));
    for (const auto& s : split)
      if (!s.light) apply_set(*made.node, s.setting, s.setting.name);
    for (const auto& s : split)
      if (s.light && light && *s.light == light->name)
        apply_set(*made.node, s.setting, *s.light + "." + s.setting.name);
    out.push_back(std::move(made));
  };
  if (!rig.is_rig()) {
    make(nullptr);
  } else {
    for (const auto& light : rig.lights) make(&light);
  }
  return out;
}

}  // namespace quorlen::hosting
