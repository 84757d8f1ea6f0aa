/// \file ShadingSettings.h  Everything the span engines read of the operator's settings.
#pragma once

#include "shading/Float3.h"
#include "shading/ShadingModes.h"

namespace quorlen {

/// The settings of one shading call. Defaults are those of a new node.
struct ShadingSettings {
  LightType light_type = LightType::parallel;
  Float3 parallel_light_direction{1.0f, 1.0f, 1.0f};
  Float3 point_light_position{0.0f, 0.0f, 0.0f};
  float point_light_radius = 100.0f;  ///< distance over which the point light fades to nothing
  float point_light_falloff = 0.0f;   ///< exponent applied to the point light's fade
  Float3 light_color{1.0f, 1.0f, 1.0f};
  float light_brightness = 1.0f;
  Float3 light_scatter{0.0f, 0.0f, 0.0f};  ///< added in proportion to the diffuse term
  Float3 surface_diffuse{1.0f, 1.0f, 1.0f};
  Float3 surface_specular{0.0f, 0.0f, 0.0f};
  float surface_specular_power = 10.0f;  ///< shininess, mapped to the specular exponent
  bool surface_noise = false;            ///< bumps the normals with the noise field
  NoiseType noise_type = NoiseType::stripes;
  int stripe_directions = 0;  ///< bits: 1 x, 2 y, 4 z
  float noise_multiply = 1.0f;
  float noise_frequency = 1.0f;
  Float3 noise_offset{0.0f, 0.0f, 0.0f};
  int format_width = 1;  ///< output format width in pixels; bounds the noise octaves
  OutputType output_type = OutputType::texture;
};

}  // namespace quorlen
