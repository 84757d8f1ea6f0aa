/// \file ReferenceSpanEngine.cpp  The reference relighting of one span: scalar, one pixel at a time.
#include "shading/Float3.h"
#include "shading/ShadingFormulas.h"
#include "shading/SpanEngine.h"
#include "shading/SurfaceNoise.h"
#include "shading/math.h"

namespace quorlen {
namespace {

// Pushes the normal against the forward differences of the bump field at Q.
inline void bump_normal(const ShadingSettings& s, const Float3& q, Float3& n) {
  const int f = integer_frequency(s.noise_frequency);
  const NoiseType type = s.noise_type;
  const int dirs = s.stripe_directions;
  const int width = s.format_width;
  const float b = surface_noise(q.x, q.y, q.z, type, dirs, width, f, s.noise_offset);
  const float bx = surface_noise(gradient_coordinate(q.x), q.y, q.z, type, dirs, width, f, s.noise_offset);
  const float by = surface_noise(q.x, gradient_coordinate(q.y), q.z, type, dirs, width, f, s.noise_offset);
  const float bz = surface_noise(q.x, q.y, gradient_coordinate(q.z), type, dirs, width, f, s.noise_offset);
  n.x = bumped(n.x, bx, b, s.noise_multiply);
  n.y = bumped(n.y, by, b, s.noise_multiply);
  n.z = bumped(n.z, bz, b, s.noise_multiply);
}

}  // namespace

void shade_span_reference(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x,
                          int r) {
  const float exponent = specular_exponent(s.surface_specular_power);
  for (int i = x; i < r; ++i) {
    const Float3 c{in.color[0][i], in.color[1][i], in.color[2][i]};
    Float3 n{in.normal[0][i], in.normal[1][i], in.normal[2][i]};
    const Float3 pos{in.position[0][i], in.position[1][i], in.position[2][i]};
    Float3 q{in.noise_position[0][i], in.noise_position[1][i], in.noise_position[2][i]};
    if (in.noise_channels->size() == 0) q = n;

    if (s.surface_noise) bump_normal(s, q, n);
    n.normalize();

    Float3 light;
    float intensity;
    if (s.light_type == LightType::parallel) {
      light = light_vector(s.parallel_light_direction);
      intensity = s.light_brightness;
    } else {
      const Float3& lp = s.point_light_position;
      const Float3 toward_light{lp.x - pos.x, lp.y - pos.y, lp.z - pos.z};
      light = light_vector(toward_light);
      const float distance = point_light_distance(toward_light.x, toward_light.y, toward_light.z);
      const float fade = point_light_fade(distance, s.point_light_radius);
      intensity = pow_f(fade, s.point_light_falloff) * s.light_brightness;
    }

    // Specular first: both terms normalise the light vector in place.
    const float specular = n.specular(light, exponent);
    const float diffuse = n.clamped_dot(light);

    for (int k = 0; k < 3; ++k) {
      const float lc = s.light_color[k];
      const float ls = s.light_scatter[k];
      const float sd = s.surface_diffuse[k];
      const float ss = s.surface_specular[k];
      if (s.output_type == OutputType::texture) {
        out.rgba[k][i] = intensity * (lc * (c[k] * sd * diffuse + ss * specular) + ls * diffuse);
      } else {
        const double spec = static_cast<double>(ss * specular);
        const double scatter = static_cast<double>(ls * diffuse);
        const double lit =
            static_cast<double>(lc) * (static_cast<double>(sd) * static_cast<double>(diffuse) + spec);
        out.rgba[k][i] = static_cast<float>(static_cast<double>(intensity) * (lit + scatter));
      }
    }
    out.rgba[3][i] = 0.0f;
  }
}

}  // namespace quorlen
