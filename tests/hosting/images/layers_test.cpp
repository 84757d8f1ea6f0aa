// Layers of image files: grouping channels into layers, choosing three components, mapping --passes.
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <gtest/gtest.h>

#include <cctype>

#include "hosting/errors.h"
#include "hosting/images/image_file.h"
#include "hosting/images/layer_mapping.h"
#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using Names = std::vector<std::string>;

std::vector<LayerInfo> one_part(const Names& channels) { return group_layers({""}, {channels}); }

std::string text_upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST(GroupLayers, GroupsChannelsByThePrefixBeforeTheLastDot) {
  const auto layers = one_part({"A", "B", "G", "R", "ViewLayer.Normal.X", "ViewLayer.Normal.Y",
                                "ViewLayer.Normal.Z", "N.x", "N.y", "N.z", "depth.Z"});
  ASSERT_EQ(layers.size(), 4u);
  EXPECT_EQ(layers[0].name, "");
  EXPECT_EQ(layers[0].channel_names, (Names{"A", "B", "G", "R"}));
  EXPECT_EQ(layers[1].name, "ViewLayer.Normal");
  EXPECT_EQ(layers[1].channels, (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(layers[2].name, "N");
  EXPECT_EQ(layers[3].name, "depth");
  EXPECT_EQ(layers[3].channel_names, (Names{"depth.Z"}));
}

TEST(GroupLayers, PartsAreLayersUnderTheirNames) {
  const auto layers =
      group_layers({"rgba", "normals", "P", ""},
                   {{"R", "G", "B"}, {"X", "Y", "Z"}, {"P.X", "P.Y", "P.Z"}, {"R", "G", "B"}});
  ASSERT_EQ(layers.size(), 4u);
  EXPECT_EQ(layers[0].name, "");  // the first part's plain channels
  EXPECT_EQ(layers[0].part_name, "rgba");
  EXPECT_EQ(layers[1].name, "normals");
  EXPECT_EQ(layers[1].subimage, 1);
  EXPECT_EQ(layers[2].name, "P");
  EXPECT_EQ(layers[2].subimage, 2);
  EXPECT_EQ(layers[3].name, "part3");  // an unnamed part gets a name by position
}

TEST(GroupLayers, ALayerNameRepeatedInALaterPartIsQualifiedByThePart) {
  const auto layers = group_layers({"left", "right"}, {{"N.X", "N.Y", "N.Z"}, {"N.X", "N.Y", "N.Z"}});
  ASSERT_EQ(layers.size(), 2u);
  EXPECT_EQ(layers[0].name, "N");
  EXPECT_EQ(layers[1].name, "right.N");
}

struct ComponentCase {
  Names channels;
  std::array<int, 3> positions;
};

TEST(ComponentPositions, TakesNamedComponentsInXYZOrderElseTheFirstThree) {
  const ComponentCase cases[] = {
      {{"N.X", "N.Y", "N.Z"}, {0, 1, 2}},
      {{"N.z", "N.y", "N.x"}, {2, 1, 0}},
      {{"c.blue", "c.green", "c.red"}, {2, 1, 0}},
      {{"c.B", "c.G", "c.R", "c.A"}, {2, 1, 0}},
      {{"c.w", "c.X", "c.Y", "c.Z"}, {1, 2, 3}},
      {{"c.u", "c.v", "c.w", "c.q"}, {0, 1, 2}},
      {{"c.R", "c.G", "c.X", "c.Y", "c.Z"}, {2, 3, 4}},  // r, g without b is no triple
  };
  for (const auto& c : cases) {
    LayerInfo layer = one_part(c.channels).front();
    EXPECT_EQ(component_positions(layer, "f.exr"), c.positions) << c.channels.front();
  }
}

TEST(ComponentPositions, ThePlainLayerPrefersRedGreenBlue) {
  const LayerInfo plain = one_part({"B", "G", "R", "X", "Y", "Z"}).front();
  EXPECT_EQ(component_positions(plain, "f.exr"), (std::array<int, 3>{2, 1, 0}));
  const LayerInfo named_layer = one_part({"n.B", "n.G", "n.R", "n.X", "n.Y", "n.Z"}).front();
  EXPECT_EQ(component_positions(named_layer, "f.exr"), (std::array<int, 3>{3, 4, 5}));
}

TEST(ComponentPositions, FewerThanThreeChannelsIsAUsageErrorListingThem) {
  const LayerInfo layer = one_part({"depth.Z"}).front();
  try {
    component_positions(layer, "f.exr");
    FAIL() << "accepted one channel";
  } catch (const AppError& e) {
    EXPECT_EQ(e.code(), kExitUsage);
    EXPECT_STREQ(e.what(), "layer depth of \"f.exr\" has 1 channel (depth.Z); three are needed");
  }
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

TEST(LayerReader, ASubsampledChannelIsRefusedFromTheHeaderBeforeAnyRead) {
  quorlen::hosting_test::TempDir dir;
  const std::string sub = dir / "sub.exr";
  {
    Imf::Header h(4, 4);
    h.channels().insert("R", Imf::Channel(Imf::FLOAT));
    h.channels().insert("G", Imf::Channel(Imf::FLOAT, 2, 2));
    h.channels().insert("B", Imf::Channel(Imf::FLOAT));
    h.channels().insert("N.X", Imf::Channel(Imf::FLOAT));
    h.channels().insert("N.Y", Imf::Channel(Imf::FLOAT));
    h.channels().insert("N.Z", Imf::Channel(Imf::FLOAT));
    std::vector<float> full(16, 1.0f), half(4, 2.0f);
    Imf::FrameBuffer fb;
    for (const char* name : {"R", "B", "N.X", "N.Y", "N.Z"})
      fb.insert(name, Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(full.data()), 4, 16));
    fb.insert("G", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(half.data()), 4, 8, 2, 2));
    Imf::OutputFile out(sub.c_str(), h);
    out.setFrameBuffer(fb);
    out.writePixels(4);
  }
  try {
    LayerReader reader(ImageFile(sub), "");
    FAIL() << "accepted a subsampled channel";
  } catch (const AppError& e) {
    EXPECT_EQ(e.code(), kExitUsage);
    EXPECT_EQ(std::string(e.what()),
              "cannot read \"" + sub + "\": channel \"G\" is subsampled, which is not supported");
  }
  EXPECT_NO_THROW(LayerReader(ImageFile(sub), "N"));  // a layer of whole channels reads
}

}  // namespace
