/// \file colour_config_test.cpp  The colour config: where it is found, what it holds, names refused with
/// their near miss, inputs' spaces, and display codes against the exact sRGB encoder and known conversions.
#include <gtest/gtest.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/preview.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "hosting/colour/display_encoder.h"
#include "hosting/images/srgb.h"

namespace quorlen::hosting {
namespace {

const std::string kStudio = std::string(QUORLEN_TEST_COLOUR_DATA) + "/studio.ocio";
const std::string kBroken = std::string(QUORLEN_TEST_COLOUR_DATA) + "/broken.ocio";

// Each test starts from the shipped config with $OCIO unset.
class ColourConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("OCIO");
    choose_colour_config(std::nullopt);
  }
  void TearDown() override { SetUp(); }
};

// The message of the error `call` throws, and its kind.
template <class Call>
std::pair<ErrorKind, std::string> refusal(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return {e.kind(), e.what()};
  }
  ADD_FAILURE() << "nothing was refused";
  return {ErrorKind::output, ""};
}

TEST_F(ColourConfigTest, ShippedConfigLoadsWithoutOcioAndHoldsItsSpacesAndViews) {
  const ColourConfigInfo& info = colour_config();
  EXPECT_EQ(info.source, ColourConfigSource::shipped);
  EXPECT_EQ(info.working_space, "lin_rec709");
  for (const char* space : {"lin_rec709", "ACEScg", "ACES2065-1", "srgb_texture", "raw"})
    EXPECT_NE(std::find(info.colour_spaces.begin(), info.colour_spaces.end(), space),
              info.colour_spaces.end())
        << space;
  EXPECT_EQ(info.data_spaces, std::vector<std::string>{"raw"});
  EXPECT_EQ(info.default_display, "sRGB");
  EXPECT_EQ(info.default_view, "sRGB");
  ASSERT_EQ(info.displays.size(), 1u);
  EXPECT_EQ(info.displays[0].second, (std::vector<std::string>{"sRGB", "ACES 1.0 - SDR Video", "Raw"}));
  EXPECT_EQ(info.looks, std::vector<std::string>{"ACES 1.3 Reference Gamut Compression"});
  EXPECT_NE(colour_config_line().find("(Quorlen's default)"), std::string::npos);
}

TEST_F(ColourConfigTest, OcioEnvironmentAndChosenFileTakeTheirTurns) {
  setenv("OCIO", kStudio.c_str(), 1);
  EXPECT_EQ(colour_config().source, ColourConfigSource::environment);
  EXPECT_EQ(colour_config().working_space, "ACEScg");
  EXPECT_EQ(colour_config().default_display, "Rec.709");
  // A chosen file wins over $OCIO.
  setenv("OCIO", kBroken.c_str(), 1);
  choose_colour_config(kStudio);
  EXPECT_EQ(colour_config().source, ColourConfigSource::option);
  EXPECT_EQ(colour_config().path, kStudio);
  EXPECT_EQ(colour_config_line(), "colour config: " + kStudio + " (chosen)");
}

TEST_F(ColourConfigTest, MissingAndBrokenConfigsAreInputErrorsNamingTheFile) {
  choose_colour_config("/nonexistent/config.ocio");
  auto [kind, message] = refusal([] { colour_config(); });
  EXPECT_EQ(kind, ErrorKind::input);
  EXPECT_NE(message.find("\"/nonexistent/config.ocio\" (chosen) does not exist"), std::string::npos)
      << message;
  setenv("OCIO", kBroken.c_str(), 1);
  choose_colour_config(std::nullopt);
  std::tie(kind, message) = refusal([] { colour_config(); });
  EXPECT_EQ(kind, ErrorKind::input);
  EXPECT_NE(message.find(kBroken + "\" (from $OCIO) cannot be used: "), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos) << message;
}

TEST_F(ColourConfigTest, UnknownNamesListTheChoicesAndTheNearMiss) {
  struct Case {
    std::function<void()> call;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {[] { resolve_display_view(std::string("sRBG"), std::nullopt, std::nullopt); },
       "display: \"sRBG\" is not a display of the colour config (choices: sRGB); did you mean \"sRGB\"?"},
      {[] { resolve_display_view(std::nullopt, std::string("Rwa"), std::nullopt); },
       "view: \"Rwa\" is not a view of display \"sRGB\" of the colour config (choices: sRGB, ACES 1.0 - "
       "SDR "
       "Video, Raw); did you mean \"Raw\"?"},
      {[] { resolve_display_view(std::nullopt, std::nullopt, std::string("gamut")); },
       "look: \"gamut\" is not a look of the colour config (choices: ACES 1.3 Reference Gamut "
       "Compression)"},
      {[] { colour_space_named("ACEScc", "--output-colorspace"); },
       "--output-colorspace: \"ACEScc\" is not a colour space of the colour config (choices: CIE-XYZ-D65, "
       "sRGB - Display, lin_rec709, "
       "ACEScg, ACES2065-1, srgb_texture, raw); did you mean \"ACEScg\"?"},
      {[] {
         check_input_spaces({{"colour", "raw"}});
       },
       "--colorspace: \"colour\" is not an input (choices: color, normal, P, noiseP); did you mean "
       "\"color\"?"},
      {[] {
         check_input_spaces({{"normal", "raw"}});
       },
       "--colorspace normal: the normal input is data and is never converted"},
  };
  for (const Case& c : cases) {
    const auto [kind, message] = refusal(c.call);
    EXPECT_EQ(kind, ErrorKind::usage) << c.expected;
    EXPECT_EQ(message, c.expected);
  }
}

TEST_F(ColourConfigTest, NamesResolveThroughAliasesDefaultsAndLooks) {
  EXPECT_EQ(colour_space_named("sRGB - Texture", "x"), "srgb_texture");
  EXPECT_EQ(colour_space_named("scene_linear", "x"), "lin_rec709");  // a role
  EXPECT_EQ(resolve_display_view(std::nullopt, std::nullopt, std::nullopt),
            (DisplayView{"sRGB", "sRGB", ""}));
  const DisplayView aces = resolve_display_view(std::nullopt, std::string("ACES 1.0 - SDR Video"),
                                                std::string("ACES 1.3 Reference Gamut Compression"));
  EXPECT_EQ(aces.look, "ACES 1.3 Reference Gamut Compression");
}

TEST_F(ColourConfigTest, InputSpaceIsTheChoiceElseTheFileRules) {
  EXPECT_EQ(input_colour_space(std::nullopt, "", "/shots/albedo.png"), "srgb_texture");
  EXPECT_EQ(input_colour_space(std::nullopt, "", "/shots/albedo.JPG"), "srgb_texture");
  EXPECT_EQ(input_colour_space(std::nullopt, "", "/shots/beauty.exr"), "lin_rec709");
  EXPECT_EQ(input_colour_space(std::string("raw"), "", "/shots/albedo.png"), "raw");
  EXPECT_EQ(input_colour_space(std::nullopt, "ACEScg", "/shots/albedo.png"), "ACEScg");
  // Metadata the config does not know leaves the rules to decide.
  EXPECT_EQ(input_colour_space(std::nullopt, "Gamma 1.8", "/shots/albedo.png"), "srgb_texture");
  choose_colour_config(kStudio);
  EXPECT_EQ(input_colour_space(std::nullopt, "", "/shots/wall_tex.tif"), "Texture sRGB");
  EXPECT_EQ(input_colour_space(std::nullopt, "", "/shots/wall.tif"), "ACEScg");
}

// Hostile values and the sRGB curve's own corners: the default view gives the exact encoder's codes.
TEST_F(ColourConfigTest, DefaultViewGivesTheExactSrgbCodesOnEveryValue) {
  const DisplayEncoder encoder(resolve_display_view(std::nullopt, std::nullopt, std::nullopt));
  EXPECT_TRUE(encoder.plain_srgb());
  std::vector<float> values = {0.0f,
                               -0.0f,
                               -1.0f,
                               0.0031308f,
                               0.5f,
                               1.0f,
                               1e30f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::denorm_min()};
  for (int i = 0; i <= 4096; ++i) values.push_back(static_cast<float>(i) / 4096.0f);
  std::vector<float> rgb;
  for (float v : values) rgb.insert(rgb.end(), {v, v, v});
  std::vector<std::uint8_t> codes(rgb.size());
  encoder.codes8(rgb.data(), values.size(), 3, 0, 1, 2, codes.data());
  for (std::size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(codes[3 * i], srgb_encode_8bit_by_formula(values[i])) << "value " << values[i];
  // Other views go through OpenColorIO and are not the plain curve.
  EXPECT_FALSE(
      DisplayEncoder(resolve_display_view(std::nullopt, std::string("ACES 1.0 - SDR Video"), std::nullopt))
          .plain_srgb());
  EXPECT_FALSE(
      DisplayEncoder(resolve_display_view(std::nullopt, std::nullopt, std::nullopt), 0.0, 2.2).plain_srgb());
}

TEST_F(ColourConfigTest, RawViewAndExposureAndGammaOnTheProcessorPath) {
  const DisplayEncoder raw(resolve_display_view(std::nullopt, std::string("Raw"), std::nullopt), 1.0);
  const float rgb[6] = {0.25f, 0.5f, 2.0f, -1.0f, 0.1f, 0.0f};
  std::uint8_t codes[6];
  raw.codes8(rgb, 2, 3, 0, 1, 2, codes);
  // Raw shows values as they are, after one stop of exposure: 0.5, 1, clipped, clipped to 0, 0.2, 0.
  EXPECT_EQ(std::vector<int>(codes, codes + 6), (std::vector<int>{128, 255, 255, 0, 51, 0}));
  const DisplayEncoder gamma(resolve_display_view(std::nullopt, std::string("Raw"), std::nullopt), 0.0, 2.0);
  gamma.codes8(rgb, 1, 3, 0, 1, 2, codes);
  // A gamma of 2 shows v^(1/2): 0.5 and 0.7071.
  EXPECT_EQ(std::vector<int>(codes, codes + 3), (std::vector<int>{128, 180, 255}));
}

TEST_F(ColourConfigTest, TextureSpaceConvertsToTheWorkingSpaceAndDataIsLeftAlone) {
  // sRGB-encoded 0.5 is linear ((0.5 + 0.055) / 1.055)^2.4 = 0.214041140.
  const SpaceConverter texture("srgb_texture", "lin_rec709");
  float rgb[6] = {0.5f, 0.0f, 1.0f, 0.04045f, 0.2f, 0.8f};
  texture.apply(rgb, 2);
  EXPECT_NEAR(rgb[0], 0.214041140f, 2e-6f);
  EXPECT_EQ(rgb[1], 0.0f);
  EXPECT_NEAR(rgb[2], 1.0f, 2e-6f);
  EXPECT_NEAR(rgb[3], 0.04045f / 12.92f, 1e-6f);
  EXPECT_TRUE(SpaceConverter("raw", "lin_rec709").identity());
  EXPECT_TRUE(SpaceConverter("lin_rec709", "lin_rec709").identity());
  // ACEScg's primaries are wider: its pure red is more than pure red in Rec.709, with negative green.
  float red[3] = {1.0f, 0.0f, 0.0f};
  SpaceConverter("ACEScg", "lin_rec709").apply(red, 1);
  EXPECT_NEAR(red[0], 1.7050510f, 1e-4f);
  EXPECT_NEAR(red[1], -0.1302564f, 1e-4f);
}

TEST_F(ColourConfigTest, PreviewsGoThroughTheChosenViewAndRefuseUnknownNames) {
  DD::Image::ImageBuffer image(DD::Image::Box(0, 0, 2, 1),
                               {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  const float values[2][3] = {{0.25f, 0.5f, 2.0f}, {0.0f, 0.1f, -1.0f}};
  for (int x = 0; x < 2; ++x)
    for (int k = 0; k < 3; ++k) image.at(x, 0, k) = values[x][k];
  PreviewView raw;
  raw.view = "Raw";
  raw.exposure = 1.0;
  EXPECT_EQ(preview_codes(image, raw).rgb, (std::vector<std::uint8_t>{128, 255, 255, 0, 51, 0}));
  // The default view is the writer's exact sRGB codes.
  const Preview plain = preview_codes(image, PreviewView{});
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(plain.rgb[static_cast<std::size_t>(i)], srgb_encode_8bit_by_formula(values[i / 3][i % 3]));
  PreviewView unknown;
  unknown.display = "sRBG";
  EXPECT_EQ(refusal([&] { preview_codes(image, unknown); }).first, ErrorKind::usage);
}

}  // namespace
}  // namespace quorlen::hosting
