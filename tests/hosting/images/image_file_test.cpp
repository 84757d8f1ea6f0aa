// Layers of image files: grouping channels into layers (parts included), choosing three components, and
// refusing what a layer reader cannot read.
#include "hosting/images/image_file.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>
#include <gtest/gtest.h>
#include <quorlen/errors.h>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting;
using Names = std::vector<std::string>;

std::vector<LayerInfo> one_part(const Names& channels) { return group_layers({""}, {channels}); }

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

TEST(ComponentPositions, FewerThanThreeChannelsIsAnInputErrorListingThem) {
  const LayerInfo layer = one_part({"depth.Z"}).front();
  try {
    component_positions(layer, "f.exr");
    FAIL() << "accepted one channel";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::input);
    EXPECT_STREQ(e.what(), "layer depth of \"f.exr\" has 1 channel (depth.Z); three are needed");
  }
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
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::input);
    EXPECT_EQ(std::string(e.what()),
              "cannot read \"" + sub + "\": channel \"G\" is subsampled, which is not supported");
  }
  EXPECT_NO_THROW(LayerReader(ImageFile(sub), "N"));  // a layer of whole channels reads
}

}  // namespace
