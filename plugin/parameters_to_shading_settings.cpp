/// \file parameters_to_shading_settings.cpp  The parameter record in the span engines' terms.
#include "plugin/ParametersToShadingSettings.h"

namespace quorlen {

ShadingSettings shading_settings(const Parameters& p) {
  ShadingSettings s;
  s.light_type = light_type_of(p.lightType);
  s.parallel_light_direction = p._parallelLightDir;
  s.point_light_position = p._pointLightPos;
  s.point_light_radius = p.pointLightRadius;
  s.point_light_falloff = p.pointLightFalloff;
  s.light_color = p._lightColor;
  s.light_brightness = p.lightBrightness;
  s.light_scatter = p._lightScatter;
  s.surface_diffuse = p._surfaceDiffuse;
  s.surface_specular = p._surfaceSpecular;
  s.surface_specular_power = p.surfaceSpecularPower;
  s.surface_noise = p.surfaceNoise;
  s.noise_type = noise_type_of(p.surfaceNoiseType);
  s.stripe_directions = p.stripesNoiseDir;
  s.noise_multiply = p.noiseMultiply;
  s.noise_frequency = p.noiseFrequency;
  s.noise_offset = p.noiseOffset;
  s.format_width = p.formatWidth;
  s.output_type = output_type_of(p.outputType);
  return s;
}

}  // namespace quorlen
