/// \file RowEngine.cpp  The per-pixel relighting of one span.
#include "shading/RowEngine.h"

#include "shading/Float3.h"
#include "shading/SurfaceNoise.h"
#include "shading/math.h"

namespace quorlen {
namespace {

// The shifted sample positions of the finite-difference gradient: the step is added in double.
inline float step_coordinate(float v) { return static_cast<float>(static_cast<double>(v) + 0.01); }

// Pushes the normal against the forward differences of the bump field at Q.
inline void bump_normal(const Parameters& p, const Float3& q, Float3& n) {
  const int f = integer_frequency(p.noiseFrequency);
  const int type = p.surfaceNoiseType;
  const int dirs = p.stripesNoiseDir;
  const int width = p.formatWidth;
  const float b = surface_noise(q.x, q.y, q.z, type, dirs, width, f, p.noiseOffset);
  const float bx = surface_noise(step_coordinate(q.x), q.y, q.z, type, dirs, width, f, p.noiseOffset);
  const float by = surface_noise(q.x, step_coordinate(q.y), q.z, type, dirs, width, f, p.noiseOffset);
  const float bz = surface_noise(q.x, q.y, step_coordinate(q.z), type, dirs, width, f, p.noiseOffset);
  n.x = n.x - ((bx - b) * p.noiseMultiply) * 100.0f;
  n.y = n.y - ((by - b) * p.noiseMultiply) * 100.0f;
  n.z = n.z - ((bz - b) * p.noiseMultiply) * 100.0f;
}

}  // namespace

void shade_span_reference(const Parameters& p, const SpanInputs& in, const SpanOutputs& out, int x, int r) {
  const float exponent = (p.surfaceSpecularPower - 1.0f) * 20.0f + 1.0f;
  for (int i = x; i < r; ++i) {
    const Float3 c{in.color[0][i], in.color[1][i], in.color[2][i]};
    Float3 n{in.normal[0][i], in.normal[1][i], in.normal[2][i]};
    const Float3 pos{in.position[0][i], in.position[1][i], in.position[2][i]};
    Float3 q{in.noise_position[0][i], in.noise_position[1][i], in.noise_position[2][i]};
    if (in.noise_channels->size() == 0) q = n;

    if (p.surfaceNoise) bump_normal(p, q, n);
    n.normalize();

    Float3 light;
    float intensity;
    if (p.lightType == 0) {
      const Float3& d = p._parallelLightDir;
      light = {d.x, d.y, -d.z};
      intensity = p.lightBrightness;
    } else {
      const Float3& lp = p._pointLightPos;
      const float dx = lp.x - pos.x;
      const float dy = lp.y - pos.y;
      const float dz = lp.z - pos.z;
      light = {dx, dy, -dz};
      const float distance = hypot_f(hypot_f(dx, dy), dz);
      const float fade = linear_ramp(distance, 0.0f, p.pointLightRadius, 1.0f, 0.0f);
      intensity = pow_f(fade, p.pointLightFalloff) * p.lightBrightness;
    }

    // Specular first: both terms normalise the light vector in place.
    const float specular = n.specular(light, exponent);
    const float diffuse = n.clamped_dot(light);

    for (int k = 0; k < 3; ++k) {
      const float lc = p._lightColor[k];
      const float ls = p._lightScatter[k];
      const float sd = p._surfaceDiffuse[k];
      const float ss = p._surfaceSpecular[k];
      if (p.outputType == 0) {
        out.rgba[k][i] = intensity * (lc * (c[k] * sd * diffuse + ss * specular) + ls * diffuse);
      } else {
        const double spec = static_cast<double>(ss * specular);
        const double scatter = static_cast<double>(ls * diffuse);
        const double lit = static_cast<double>(lc) * (static_cast<double>(sd) * static_cast<double>(diffuse) + spec);
        out.rgba[k][i] = static_cast<float>(static_cast<double>(intensity) * (lit + scatter));
      }
    }
    out.rgba[3][i] = 0.0f;
  }
}

}  // namespace quorlen
