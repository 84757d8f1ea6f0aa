/// \file input_colour_space_test.cpp  The colour input's space from the option, else the file's own metadata
/// (when the config knows the name), else the config's file rules; and its pixels converted accordingly.
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <gtest/gtest.h>
#include <quorlen/colour.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hosting/colour/display_encoder.h"
#include "hosting/frames/frame_inputs.h"
#include "support/HostingTestSupport.h"

namespace quorlen::hosting {
namespace {

using hosting_test::TempDir;

// Saturated and grey pixels: the ACEScg conversion moves the first, keeps the last.
const std::vector<float> kPixels = {1.0f, 0.0f, 0.0f, 0.2f, 0.6f, 0.1f, 0.5f, 0.5f, 0.5f};

// A 3x1 float EXR of kPixels, with string attribute `name` = `value` when `name` is not empty.
void write_exr(const std::string& path, const std::string& name = "", const std::string& value = "") {
  Imf::Header header(3, 1);
  for (const char* c : {"R", "G", "B"}) header.channels().insert(c, Imf::Channel(Imf::FLOAT));
  if (!name.empty()) header.insert(name, Imf::StringAttribute(value));
  Imf::OutputFile out(path.c_str(), header);
  Imf::FrameBuffer frame;
  const char* names[3] = {"R", "G", "B"};
  for (int k = 0; k < 3; ++k)
    frame.insert(names[k], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(const_cast<float*>(&kPixels[k])),
                                      3 * sizeof(float), 9 * sizeof(float)));
  out.setFrameBuffer(frame);
  out.writePixels(1);
}

struct Read {
  std::string space;
  std::string report;
  std::vector<float> rgb;
};

// The colour input `colour` as the read stage gives it, beside a normal input.
Read read_colour(const std::string& colour, const std::string& normal,
                 const std::optional<std::string>& chosen = std::nullopt) {
  FrameSources sources;
  sources.inputs[kColor] = InputSpec{colour, std::nullopt};
  sources.inputs[kNormal] = InputSpec{normal, std::nullopt};
  sources.colour_space = chosen;
  std::vector<std::string> warnings;
  FrameInputs inputs(sources, warnings);
  EXPECT_TRUE(warnings.empty());
  const auto band = inputs.read_band(0, 1);
  const auto& image = *band.images[kColor];
  Read out{inputs.colour_space(), inputs.describe_colour_spaces(), {}};
  for (int x = 0; x < 3; ++x)
    for (int k = 0; k < 3; ++k) out.rgb.push_back(image.at(x, 0, k));
  return out;
}

std::vector<float> converted(const std::string& from) {
  std::vector<float> rgb = kPixels;
  SpaceConverter(from, colour_config().working_space).apply(rgb.data(), 3);
  return rgb;
}

class InputColourSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("OCIO");
    choose_colour_config(std::nullopt);
    write_exr(normal_);
  }
  TempDir dir_;
  const std::string normal_ = dir_ / "normal.exr";
};

TEST_F(InputColourSpaceTest, TaggedExrIsConvertedFromItsSpaceAndTheOptionOverridesTheTag) {
  const std::string tagged = dir_ / "acescg.exr";
  write_exr(tagged, "oiio:ColorSpace", "ACEScg");
  const Read read = read_colour(tagged, normal_);
  EXPECT_EQ(read.space, "ACEScg");
  EXPECT_NE(read.report.find("color ACEScg (from the file's metadata) to lin_rec709"), std::string::npos)
      << read.report;
  EXPECT_EQ(read.rgb, converted("ACEScg"));
  EXPECT_GT(read.rgb[0], 1.5f) << "ACEScg red is redder than Rec.709 red";

  // The option wins over the tag: read as stored.
  const Read chosen = read_colour(tagged, normal_, std::string("lin_rec709"));
  EXPECT_EQ(chosen.space, "lin_rec709");
  EXPECT_NE(chosen.report.find("(as chosen), not converted"), std::string::npos) << chosen.report;
  EXPECT_EQ(chosen.rgb, kPixels);
}

TEST_F(InputColourSpaceTest, OtherToolsTagsAndAliasesCountUnknownNamesLeaveTheRules) {
  // A "colorspace" string in any case, naming an alias of the config's ACES2065-1.
  const std::string aliased = dir_ / "aliased.exr";
  write_exr(aliased, "ColorSpace", "ACES - ACES2065-1");
  const Read read = read_colour(aliased, normal_);
  EXPECT_EQ(read.space, "ACES2065-1");
  EXPECT_EQ(read.rgb, converted("ACES2065-1"));

  const std::string untagged = dir_ / "untagged.exr";
  write_exr(untagged);
  const Read plain = read_colour(untagged, normal_);
  EXPECT_EQ(plain.space, "lin_rec709");
  EXPECT_NE(plain.report.find("(by the config's file rules), not converted"), std::string::npos)
      << plain.report;
  EXPECT_EQ(plain.rgb, kPixels);

  // A name the config does not hold is ignored, and said in the report.
  const std::string unknown = dir_ / "unknown.exr";
  write_exr(unknown, "oiio:ColorSpace", "Gamma 1.8");
  const Read rules = read_colour(unknown, normal_);
  EXPECT_EQ(rules.space, "lin_rec709");
  EXPECT_NE(rules.report.find("by the config's file rules; the file's \"Gamma 1.8\" is not in the config"),
            std::string::npos)
      << rules.report;
  EXPECT_EQ(rules.rgb, kPixels);

  // Under a studio config whose working space is ACEScg, the same tag is not converted.
  choose_colour_config(std::string(QUORLEN_TEST_COLOUR_DATA) + "/studio.ocio");
  const std::string studio_tagged = dir_ / "studio.exr";
  write_exr(studio_tagged, "oiio:ColorSpace", colour_config().working_space);
  EXPECT_EQ(read_colour(studio_tagged, normal_).rgb, kPixels);
  choose_colour_config(std::nullopt);
}

}  // namespace
}  // namespace quorlen::hosting
