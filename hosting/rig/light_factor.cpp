/// \file light_factor.cpp  A light's shadows and cone from its knobs at the frame.
#include "hosting/rig/light_factor.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <charconv>

namespace quorlen::hosting {
namespace {

// A three-number knob as its text gives it ("1,1.4,7.2").
geometry::Vec3 vector_knob(Node& node, const char* name) {
  const std::string text = node.value_text(name);
  geometry::Vec3 v{};
  std::size_t start = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    double value = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + comma, value);
    if (error != std::errc())
      throw usage_error(fmt::format("knob {} holds \"{}\", not three numbers", name, text));
    v[k] = value;
    start = comma + 1;
  }
  return v;
}

}  // namespace

std::unique_ptr<LightFactor> LightFactor::make(Node& node, const RigLight& light, FrameCamera& frame,
                                               std::string_view who) {
  if (!light.shadow && !light.spot) return nullptr;
  std::unique_ptr<LightFactor> f(new LightFactor(frame));
  const bool point = node.value_text("lightType") != "parallel";
  // Whatever the light space, the knobs place the light in P's space: the space only says how the normal
  // input relates to P (see docs/shadows.md).
  f->position_ = point ? vector_knob(node, "_pointLightPos") : geometry::Vec3{};
  if (light.spot) {
    if (!point)
      throw usage_error(
          fmt::format("{}: \"spot\" needs a point light (lightType point); this one is parallel", who));
    f->spot_ =
        geometry::SpotCone{{light.spot->direction[0], light.spot->direction[1], light.spot->direction[2]},
                           light.spot->angle,
                           light.spot->penumbra};
  }
  if (light.shadow) {
    frame.require(fmt::format("{}: shadow", who));
    const ShadowOptions& o = *light.shadow;
    geometry::ShadowLight s;
    s.point = point;
    s.position = f->position_;
    if (!point) {
      s.direction = vector_knob(node, "_parallelLightDir");
      if (geometry::length(s.direction) == 0.0)
        throw usage_error(fmt::format("{}: shadow: the parallel light's direction is 0,0,0", who));
    }
    s.size = o.size;
    s.angle = o.angle;
    s.samples = o.samples;
    s.max_distance = o.max_distance;
    f->shadow_ = s;
    f->field_ = &frame.field(geometry::DepthRules{o.thickness, o.bias});
  }
  return f;
}

float LightFactor::at(int x, int y) const {
  const DD::Image::Box& box = frame_.position.box();
  const int i = x - box.x(), j = y - box.y();
  float factor = 1.0f;
  if (shadow_) factor = geometry::visibility(*frame_.camera, *field_, frame_.grid, *shadow_, i, j);
  if (spot_) {
    const float* p = frame_.grid.at(i, j);
    if (geometry::is_surface(p))
      factor = factor * geometry::spot_factor(*spot_, position_, {p[0], p[1], p[2]});
  }
  return factor;
}

void LightFactor::apply(DD::Image::ImageBuffer& out) const {
  const DD::Image::Box& box = out.box();
  const int rgb[3] = {out.channel_index(DD::Image::Chan_Red), out.channel_index(DD::Image::Chan_Green),
                      out.channel_index(DD::Image::Chan_Blue)};
  tbb::parallel_for(tbb::blocked_range<int>(box.y(), box.t()), [&](const tbb::blocked_range<int>& lines) {
    for (int y = lines.begin(); y < lines.end(); ++y)
      for (int x = box.x(); x < box.r(); ++x) {
        // Black stays black whatever the factor (always finite): no rays for it.
        if (out.at(x, y, rgb[0]) == 0.0f && out.at(x, y, rgb[1]) == 0.0f && out.at(x, y, rgb[2]) == 0.0f)
          continue;
        const float f = at(x, y);
        if (f == 1.0f) continue;
        for (int c : rgb) out.at(x, y, c) = out.at(x, y, c) * f;
      }
  });
}

}  // namespace quorlen::hosting
