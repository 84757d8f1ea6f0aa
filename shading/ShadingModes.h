/// \file ShadingModes.h  The light, output and noise modes, and how the stored 32-bit codes read as them.
#pragma once

#include <cstdint>

namespace quorlen {

/// Where the light comes from.
enum class LightType { parallel, point };

/// What red, green and blue hold: the relit colour input, or the light alone.
enum class OutputType { texture, light };

/// The bump field that roughens the normals. `flat` stands for every code outside the four types: it
/// leaves the surface flat.
enum class NoiseType { stripes, turbulence1, turbulence2, snoise, flat };

/// Code 0 is the parallel light, any other code the point light.
constexpr LightType light_type_of(std::int32_t code) {
  return code == 0 ? LightType::parallel : LightType::point;
}

/// Code 0 is "texture", any other code "light".
constexpr OutputType output_type_of(std::int32_t code) {
  return code == 0 ? OutputType::texture : OutputType::light;
}

/// Codes 0 to 3 are the four types in the order above; any other code is `flat`.
constexpr NoiseType noise_type_of(std::int32_t code) {
  switch (code) {
    case 0:
      return NoiseType::stripes;
    case 1:
      return NoiseType::turbulence1;
    case 2:
      return NoiseType::turbulence2;
    case 3:
      return NoiseType::snoise;
    default:
      return NoiseType::flat;
  }
}

}  // namespace quorlen
