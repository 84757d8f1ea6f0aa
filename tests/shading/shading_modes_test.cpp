// The stored 32-bit codes read as light, output and noise modes: 0 against any other value for the
// light and the output, 0 to 3 and everything else for the noise.
#include <gtest/gtest.h>

#include <climits>

#include "shading/ShadingModes.h"

namespace quorlen {
namespace {

TEST(ShadingModes, EveryCodeReadsAsOneMode) {
  struct Case {
    int line;
    std::int32_t code;
    LightType light;
    OutputType output;
    NoiseType noise;
  };
  const Case cases[] = {
      {__LINE__, 0, LightType::parallel, OutputType::texture, NoiseType::stripes},
      {__LINE__, 1, LightType::point, OutputType::light, NoiseType::turbulence1},
      {__LINE__, 2, LightType::point, OutputType::light, NoiseType::turbulence2},
      {__LINE__, 3, LightType::point, OutputType::light, NoiseType::snoise},
      {__LINE__, 4, LightType::point, OutputType::light, NoiseType::flat},
      {__LINE__, 5, LightType::point, OutputType::light, NoiseType::flat},
      {__LINE__, -1, LightType::point, OutputType::light, NoiseType::flat},
      {__LINE__, INT_MIN, LightType::point, OutputType::light, NoiseType::flat},
      {__LINE__, INT_MAX, LightType::point, OutputType::light, NoiseType::flat},
      {__LINE__, 256, LightType::point, OutputType::light, NoiseType::flat},  // low byte 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(light_type_of(c.code), c.light) << "line " << c.line;
    EXPECT_EQ(output_type_of(c.code), c.output) << "line " << c.line;
    EXPECT_EQ(noise_type_of(c.code), c.noise) << "line " << c.line;
  }
}

}  // namespace
}  // namespace quorlen
