/// \file light_rules.cpp  The operator's light conventions as a host needs them.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/lighting.h>
#include <quorlen/session.h>

#include <cmath>

#include "text/strings.h"

namespace quorlen::hosting {

bool Surface::empty() const {
  for (int k = 0; k < 3; ++k)
    if (position[static_cast<std::size_t>(k)] != 0.0f || normal[static_cast<std::size_t>(k)] != 0.0f)
      return false;
  return true;
}

Surface surface_at(const Session& session, int x, int y, LightSpace space) {
  const DD::Image::Box& data = session.geometry().data;
  if (x < 0 || y < 0 || x >= data.w() || y >= data.h())
    throw usage_error(fmt::format("pixel {}, {} is outside the {}x{} image", x, y, data.w(), data.h()));
  Surface s;
  const auto read = [&](int slot, std::array<float, 3>& out) {
    const auto image = session.input(slot);
    if (!image) return;
    const int c[3] = {image->channel_index(DD::Image::Chan_Red), image->channel_index(DD::Image::Chan_Green),
                      image->channel_index(DD::Image::Chan_Blue)};
    for (int k = 0; k < 3; ++k)
      out[static_cast<std::size_t>(k)] = image->at(data.x() + x, data.y() + y, c[k]);
  };
  read(kPosition, s.position);
  read(kNormal, s.normal);
  // The session holds normals as the node reads them: in world space their z is negated.
  if (space == LightSpace::world) s.normal[2] = -s.normal[2];
  return s;
}

nlohmann::json light_facing(Node& node, const Surface& s, LightSpace space, double distance,
                            std::string_view where) {
  if (!std::isfinite(distance)) throw usage_error("distance must be a finite number");
  if (s.empty()) throw usage_error(fmt::format("{} shows no surface: its P and N are zero", where));
  // The node lights with its light vector's z negated. In the node's own convention the light therefore
  // sits along the normal mirrored in z; in world space the normals reach the node with z negated already,
  // which cancels that, and the light sits along the normal itself.
  double n[3] = {s.normal[0], s.normal[1], s.normal[2]};
  if (space == LightSpace::node) n[2] = -n[2];
  const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(length > 0.0) || !std::isfinite(length))
    throw usage_error(fmt::format("{} has no usable normal", where));
  for (double& v : n) v /= length;
  nlohmann::json settings;
  if (node.value_text("lightType") != "parallel")
    settings["_pointLightPos"] = {s.position[0] + distance * n[0], s.position[1] + distance * n[1],
                                  s.position[2] + distance * n[2]};
  else
    settings["_parallelLightDir"] = {n[0], n[1], n[2]};
  return settings;
}

std::vector<std::string> settings_warnings(Node& node, const std::array<bool, kInputCount>& connected) {
  std::vector<std::string> out;
  // The panel's own availability rules decide; a value nobody changed says nothing about intent.
  std::vector<std::string> idle;
  for (const std::string& setting : node.changed_knobs()) {
    const std::string name = setting.substr(0, setting.find('='));
    if (!node.available(name)) idle.push_back(setting);
  }
  if (!idle.empty())
    out.push_back(
        fmt::format("{} {} no effect with these settings (the panel shows {} unavailable; see 'quorlen "
                    "knobs' with the same settings)",
                    text::join(idle), idle.size() == 1 ? "has" : "have", idle.size() == 1 ? "it" : "them"));
  if (node.value_text("lightType") != "parallel" && !connected[kPosition])
    out.push_back(
        "the point light has no P input, so every pixel is lit as if it were at 0,0,0; give --P FILE[:LAYER] "
        "or --passes with a position layer");
  if (node.value_text("outputType") == "texture" && !connected[kColor])
    out.push_back(
        "outputType is texture but there is no colour input, so the output is black; give --color "
        "FILE[:LAYER] or --set outputType=light");
  return out;
}

}  // namespace quorlen::hosting
