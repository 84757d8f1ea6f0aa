// The parameter record read as shading settings: every field lands in its own place, the mode codes
// read as modes, and a new node's record gives the settings' own defaults.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "plugin/ParametersToShadingSettings.h"

namespace quorlen {
namespace {

/// The settings as bit patterns, modes as their enumerator numbers, so NaN and -0 compare exactly.
std::vector<std::uint32_t> settings_bits(const ShadingSettings& s) {
  std::vector<std::uint32_t> out;
  const auto add = [&](float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    out.push_back(bits);
  };
  const auto add3 = [&](const Float3& v) {
    add(v.x);
    add(v.y);
    add(v.z);
  };
  out.push_back(static_cast<std::uint32_t>(s.light_type));
  add3(s.parallel_light_direction);
  add3(s.point_light_position);
  add(s.point_light_radius);
  add(s.point_light_falloff);
  add3(s.light_color);
  add(s.light_brightness);
  add3(s.light_scatter);
  add3(s.surface_diffuse);
  add3(s.surface_specular);
  add(s.surface_specular_power);
  out.push_back(s.surface_noise ? 1u : 0u);
  out.push_back(static_cast<std::uint32_t>(s.noise_type));
  out.push_back(static_cast<std::uint32_t>(s.stripe_directions));
  add(s.noise_multiply);
  add(s.noise_frequency);
  add3(s.noise_offset);
  out.push_back(static_cast<std::uint32_t>(s.format_width));
  out.push_back(static_cast<std::uint32_t>(s.output_type));
  return out;
}

TEST(ParametersToShadingSettings, ANewNodesRecordGivesTheDefaultSettings) {
  EXPECT_EQ(settings_bits(shading_settings(Parameters{})), settings_bits(ShadingSettings{}));
}

// Every field a different value (-0 and NaN among them), so a field read from the wrong place shows.
TEST(ParametersToShadingSettings, EveryFieldLandsInItsOwnPlace) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Parameters p;
  p.formatWidth = 1920;
  p.lightType = 0;  // with the output code -3, a light read from the output code would show
  p._parallelLightDir = {1.5f, 2.5f, -0.0f};
  p._pointLightPos = {4.5f, 5.5f, 6.5f};
  p.pointLightRadius = 7.5f;
  p.pointLightFalloff = 8.5f;
  p._lightColor = {9.5f, 10.5f, 11.5f};
  p.lightBrightness = 12.5f;
  p._lightScatter = {13.5f, 14.5f, 15.5f};
  p._surfaceDiffuse = {16.5f, 17.5f, 18.5f};
  p._surfaceSpecular = {19.5f, 20.5f, 21.5f};
  p.surfaceSpecularPower = 22.5f;
  p.surfaceNoise = true;
  p.surfaceNoiseType = 2;
  p.stripesNoiseDir = 5;
  p.noiseMultiply = 23.5f;
  p.noiseFrequency = nan;
  p.noiseOffset = {24.5f, 25.5f, 26.5f};
  p.outputType = -3;

  ShadingSettings want;
  want.light_type = LightType::parallel;
  want.parallel_light_direction = {1.5f, 2.5f, -0.0f};
  want.point_light_position = {4.5f, 5.5f, 6.5f};
  want.point_light_radius = 7.5f;
  want.point_light_falloff = 8.5f;
  want.light_color = {9.5f, 10.5f, 11.5f};
  want.light_brightness = 12.5f;
  want.light_scatter = {13.5f, 14.5f, 15.5f};
  want.surface_diffuse = {16.5f, 17.5f, 18.5f};
  want.surface_specular = {19.5f, 20.5f, 21.5f};
  want.surface_specular_power = 22.5f;
  want.surface_noise = true;
  want.noise_type = NoiseType::turbulence2;
  want.stripe_directions = 5;
  want.noise_multiply = 23.5f;
  want.noise_frequency = nan;
  want.noise_offset = {24.5f, 25.5f, 26.5f};
  want.format_width = 1920;
  want.output_type = OutputType::light;
  EXPECT_EQ(settings_bits(shading_settings(p)), settings_bits(want));
}

// The record keeps the knobs' codes; the settings read them with 0 against any other value (light,
// output) and 0 to 3 against any other value (noise).
TEST(ParametersToShadingSettings, ModeCodesReadAsModes) {
  struct Case {
    int line;
    std::int32_t code;
    LightType light;
    OutputType output;
    NoiseType noise;
  };
  const Case cases[] = {{__LINE__, 0, LightType::parallel, OutputType::texture, NoiseType::stripes},
                        {__LINE__, 1, LightType::point, OutputType::light, NoiseType::turbulence1},
                        {__LINE__, 3, LightType::point, OutputType::light, NoiseType::snoise},
                        {__LINE__, -1, LightType::point, OutputType::light, NoiseType::flat},
                        {__LINE__, INT_MAX, LightType::point, OutputType::light, NoiseType::flat}};
  for (const Case& c : cases) {
    Parameters p;
    p.lightType = c.code;
    p.outputType = c.code;
    p.surfaceNoiseType = c.code;
    const ShadingSettings s = shading_settings(p);
    EXPECT_EQ(s.light_type, c.light) << "line " << c.line;
    EXPECT_EQ(s.output_type, c.output) << "line " << c.line;
    EXPECT_EQ(s.noise_type, c.noise) << "line " << c.line;
  }
}

}  // namespace
}  // namespace quorlen
