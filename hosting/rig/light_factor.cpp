/// \file light_factor.cpp  A light's shadows and cone from its knobs at the frame.
#include "hosting/rig/light_factor.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <charconv>
#include <vector>

#include "geometry/shadow_lattice.h"

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

std::string spot_on_parallel(std::string_view who) {
  return fmt::format("{}: \"spot\" needs a point light (lightType point); this one is parallel", who);
}

std::unique_ptr<LightFactor> LightFactor::make(Node& node, const RigLight& light, FrameCamera& frame,
                                               std::string_view who) {
  if (!light.shadow && !light.spot) return nullptr;
  std::unique_ptr<LightFactor> f(new LightFactor(frame));
  const bool point = node.value_text("lightType") != "parallel";
  // Whatever the light space, the knobs place the light in P's space: the space only says how the normal
  // input relates to P (see docs/shadows.md).
  f->position_ = point ? vector_knob(node, "_pointLightPos") : geometry::Vec3{};
  if (light.spot) {
    if (!point) throw usage_error(spot_on_parallel(who));
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
  const auto marched = [&](int a, int b) {
    return geometry::visibility(*frame_.camera, *field_, frame_.grid, *shadow_, a, b);
  };
  return factor(i, j, marched);
}

float LightFactor::factor(int i, int j, const std::function<float(int, int)>& lattice) const {
  float factor = 1.0f;
  if (shadow_)
    factor = geometry::shared_visibility(*frame_.camera, *field_, frame_.grid, *shadow_, i, j, lattice);
  if (spot_) {
    const float* p = frame_.grid.at(i, j);
    if (geometry::is_surface(p))
      factor = factor * geometry::spot_factor(*spot_, position_, {p[0], p[1], p[2]});
  }
  return factor;
}

void LightFactor::apply(DD::Image::ImageBuffer& out) const {
  const DD::Image::Box& box = out.box();
  const DD::Image::Box& frame = frame_.position.box();
  const int rgb[3] = {out.channel_index(DD::Image::Chan_Red), out.channel_index(DD::Image::Chan_Green),
                      out.channel_index(DD::Image::Chan_Blue)};
  // Black stays black whatever the factor (always finite): no rays for it.
  const auto black = [&](int x, int y) {
    return out.at(x, y, rgb[0]) == 0.0f && out.at(x, y, rgb[1]) == 0.0f && out.at(x, y, rgb[2]) == 0.0f;
  };
  // The lattice pixels the band's lit pixels look at, marched once each, their lines side by side.
  const int width = frame_.grid.width;
  const int first = (box.y() - frame.y()) - (box.y() - frame.y()) % 2;
  const int rows =
      shadow_ ? std::max(0, (std::min(box.t() - frame.y(), frame_.grid.height - 1) - first) / 2 + 1) : 0;
  std::vector<float> lattice(static_cast<std::size_t>(rows) * static_cast<std::size_t>(width), 1.0f);
  const auto slot = [&](int i, int j) {
    return static_cast<std::size_t>((j - first) / 2) * static_cast<std::size_t>(width) +
           static_cast<std::size_t>(i);
  };
  if (shadow_)
    tbb::parallel_for(0, rows, [&](int row) {
      const int j = first + 2 * row;
      for (int i = 0; i < width; i += 2) {
        // Wanted by a lit pixel of the band next to it (the pixels that look at it, see
        // lattice_neighbours()).
        bool wanted = false;
        for (int y = std::max(frame.y() + j - 1, box.y()); y <= std::min(frame.y() + j + 1, box.t() - 1); ++y)
          for (int x = std::max(frame.x() + i - 1, box.x()); x <= std::min(frame.x() + i + 1, box.r() - 1);
               ++x)
            wanted = wanted || !black(x, y);
        if (wanted)
          lattice[slot(i, j)] = geometry::visibility(*frame_.camera, *field_, frame_.grid, *shadow_, i, j);
      }
    });
  const auto from_lattice = [&](int i, int j) { return lattice[slot(i, j)]; };
  tbb::parallel_for(tbb::blocked_range<int>(box.y(), box.t()), [&](const tbb::blocked_range<int>& lines) {
    for (int y = lines.begin(); y < lines.end(); ++y)
      for (int x = box.x(); x < box.r(); ++x) {
        if (black(x, y)) continue;
        const float f = factor(x - frame.x(), y - frame.y(), from_lattice);
        if (f == 1.0f) continue;
        for (int c : rgb) out.at(x, y, c) = out.at(x, y, c) * f;
      }
  });
}

}  // namespace quorlen::hosting
