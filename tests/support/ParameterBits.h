// The parameter record as the bit patterns of its fields, for exact before/after comparisons (NaN and -0
// included) that do not depend on padding bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "plugin/Parameters.h"

namespace quorlen::test {

inline std::vector<std::uint32_t> parameter_bits(const Parameters& p) {
  std::vector<std::uint32_t> out;
  const auto add = [&](const auto& v) {
    static_assert(sizeof v == 4);
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    out.push_back(bits);
  };
  const auto add3 = [&](const Float3& v) {
    add(v.x);
    add(v.y);
    add(v.z);
  };
  add(p.formatWidth);
  add(p.lightType);
  add3(p._parallelLightDir);
  add3(p._pointLightPos);
  add(p.pointLightRadius);
  add(p.pointLightFalloff);
  add3(p._lightColor);
  add(p.lightBrightness);
  add3(p._lightScatter);
  add3(p._surfaceDiffuse);
  add3(p._surfaceSpecular);
  add(p.surfaceSpecularPower);
  out.push_back(p.surfaceNoise ? 1u : 0u);
  add(p.surfaceNoiseType);
  add(p.stripesNoiseDir);
  add(p.noiseMultiply);
  add(p.noiseFrequency);
  add3(p.noiseOffset);
  add(p.outputType);
  return out;
}

}  // namespace quorlen::test
