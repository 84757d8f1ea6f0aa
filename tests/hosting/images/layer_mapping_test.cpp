// Mapping --passes: which layer of a file holds the surface colour, the normal, the position and the noise
// position, by renderers' names.
#include "hosting/images/layer_mapping.h"

#include <gtest/gtest.h>

#include <cctype>

#include "hosting/images/image_file.h"

namespace {

using namespace quorlen::hosting;
using Names = std::vector<std::string>;

std::vector<LayerInfo> one_part(const Names& channels) { return group_layers({""}, {channels}); }

std::string text_upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(MapPasses, MapsRendererStyleNamesIgnoringCase) {
  const auto layers =
      one_part({"ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B", "ViewLayer.Normal.X",
                "ViewLayer.Normal.Y", "ViewLayer.Normal.Z", "ViewLayer.Position.X", "ViewLayer.Position.Y",
                "ViewLayer.Position.Z", "ViewLayer.PREF.X", "ViewLayer.PREF.Y", "ViewLayer.PREF.Z"});
  const PassMapping m = map_passes(layers);
  EXPECT_EQ(m.color, "ViewLayer.Combined");
  EXPECT_EQ(m.normal, "ViewLayer.Normal");
  EXPECT_EQ(m.position, "ViewLayer.Position");
  EXPECT_EQ(m.noise_position, "ViewLayer.PREF");
}

TEST(MapPasses, PlainRGBWinsForColourAndEarlierNamesWinInEachList) {
  const auto layers =
      one_part({"R", "G", "B", "beauty.R", "beauty.G", "beauty.B", "normals.x", "normals.y", "normals.z",
                "N.x", "N.y", "N.z", "Pworld.x", "Pworld.y", "Pworld.z", "P.x", "P.y", "P.z"});
  const PassMapping m = map_passes(layers);
  EXPECT_EQ(m.color, "");
  EXPECT_EQ(m.normal, "N");    // "N" comes before "Normals" in the list of normal names
  EXPECT_EQ(m.position, "P");  // "P" before "Pworld"
  EXPECT_EQ(m.noise_position, std::nullopt);
}

TEST(MapPasses, EachNameOfEachListIsRecognised) {
  const std::pair<const char*, int> cases[] = {
      {"Combined", 0}, {"beauty", 0},        {"rgba", 0},   {"N", 1}, {"Nn", 1},
      {"normal", 1},   {"NORMALS", 1},       {"Nworld", 1}, {"P", 2}, {"position", 2},
      {"Pworld", 2},   {"worldPosition", 2}, {"pref", 3}};
  for (const auto& [name, slot] : cases) {
    const std::string n = std::string("render.") + name;
    const PassMapping m = map_passes(one_part({n + ".x", n + ".y", n + ".z"}));
    const std::optional<std::string> got[] = {m.color, m.normal, m.position, m.noise_position};
    for (int s = 0; s < 4; ++s) EXPECT_EQ(got[s].has_value(), s == slot) << name << " slot " << s;
  }
}

TEST(MapPasses, UnknownNamesAndShortLayersAreNotMapped) {
  const auto layers = one_part({"Nx.x", "Nx.y", "Nx.z", "N.x", "N.y", "Pos.x", "Pos.y", "Pos.z", "A"});
  const PassMapping m = map_passes(layers);
  EXPECT_EQ(m.color, std::nullopt);  // the plain layer holds only A
  EXPECT_EQ(m.normal, std::nullopt);
  EXPECT_EQ(m.position, std::nullopt);
}

TEST(MapPasses, PartNamesCountAsLayerNames) {
  const auto layers = group_layers({"beauty", "Normal", "worldPosition"},
                                   {{"X", "Y", "Z"}, {"R", "G", "B"}, {"R", "G", "B"}});
  const PassMapping m = map_passes(layers);
  EXPECT_EQ(m.color, "");  // the first part's plain channels, by the part's name
  ASSERT_TRUE(m.normal);
  EXPECT_EQ(*m.normal, "Normal");
  EXPECT_EQ(m.position, "worldPosition");
}

TEST(MapPasses, ASurfaceColourLayerWinsOverThePlainRGBAndTheBeauty) {
  const auto layers =
      one_part({"R", "G", "B", "A", "ViewLayer.Combined.R", "ViewLayer.Combined.G", "ViewLayer.Combined.B",
                "ViewLayer.DiffCol.R", "ViewLayer.DiffCol.G", "ViewLayer.DiffCol.B", "N.x", "N.y", "N.z"});
  const PassMapping m = map_passes(layers);
  EXPECT_EQ(m.color, "ViewLayer.DiffCol");
  EXPECT_TRUE(m.reasons[0].find("DiffCol") != std::string::npos) << m.reasons[0];
  EXPECT_TRUE(m.reasons[1].find("N") != std::string::npos) << m.reasons[1];
  EXPECT_EQ(m.reasons[2], "");  // no position layer, no reason

  // Without it the plain channels, then the beauty; the reason says the rendered light stays.
  const PassMapping plain = map_passes(one_part({"R", "G", "B", "beauty.R", "beauty.G", "beauty.B"}));
  EXPECT_EQ(plain.color, "");
  const PassMapping beauty = map_passes(one_part({"A", "beauty.R", "beauty.G", "beauty.B"}));
  EXPECT_EQ(beauty.color, "beauty");
  EXPECT_TRUE(beauty.reasons[0].find("rendered light stays") != std::string::npos) << beauty.reasons[0];
}

TEST(MapPasses, EverySurfaceColourNameIsRecognisedAndEarlierNamesWin) {
  for (const char* name : kAlbedoNames) {
    const std::string n = std::string("layer.") + text_upper(name);
    const PassMapping m = map_passes(one_part({"R", "G", "B", n + ".R", n + ".G", n + ".B"}));
    EXPECT_EQ(m.color, "layer." + text_upper(name)) << name;
  }
  // basecolor is later in the list than albedo, whatever the file order.
  const PassMapping m = map_passes(one_part(
      {"x.basecolor.R", "x.basecolor.G", "x.basecolor.B", "y.albedo.R", "y.albedo.G", "y.albedo.B"}));
  EXPECT_EQ(m.color, "y.albedo");
  // A two-channel surface-colour layer is skipped.
  const PassMapping short_one = map_passes(one_part({"R", "G", "B", "albedo.R", "albedo.G"}));
  EXPECT_EQ(short_one.color, "");
}

}  // namespace
