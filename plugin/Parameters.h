/// \file Parameters.h  The operator's parameter record: every knob-bound field and the cached width.
#pragma once

#include <cstdint>

#include "shading/Float3.h"
#include "shading/ShadingModes.h"

namespace quorlen {

/// Field names are the knob names. Defaults are those of a new node. The enumeration fields hold the
/// knobs' 32-bit codes, read as modes by the functions named beside them.
struct Parameters {
  std::int32_t formatWidth = 1;  ///< output format width, cached by validate_output
  std::int32_t lightType = 0;    ///< light_type_of: 0 parallel, anything else point
  Float3 _parallelLightDir{1.0f, 1.0f, 1.0f};
  Float3 _pointLightPos{0.0f, 0.0f, 0.0f};
  float pointLightRadius = 100.0f;
  float pointLightFalloff = 0.0f;
  Float3 _lightColor{1.0f, 1.0f, 1.0f};
  float lightBrightness = 1.0f;
  Float3 _lightScatter{0.0f, 0.0f, 0.0f};
  Float3 _surfaceDiffuse{1.0f, 1.0f, 1.0f};
  Float3 _surfaceSpecular{0.0f, 0.0f, 0.0f};
  float surfaceSpecularPower = 10.0f;
  bool surfaceNoise = false;
  std::int32_t surfaceNoiseType = 0;  ///< noise_type_of: 0 stripes, 1 turbulence1, 2 turbulence2, 3 snoise
  std::int32_t stripesNoiseDir = 0;   ///< bits: 1 x, 2 y, 4 z
  float noiseMultiply = 1.0f;
  float noiseFrequency = 1.0f;
  Float3 noiseOffset{0.0f, 0.0f, 0.0f};
  std::int32_t outputType = 0;  ///< output_type_of: 0 texture, anything else light
};

}  // namespace quorlen
