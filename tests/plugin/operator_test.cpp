// The operator as a host sees it: registration, creation, identity, description and requests.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DDImage/Row.h"
#include "DDImageHost/Registry.h"
#include "DDImageHost/Testing.h"
#include "plugin/Quorlen.h"
#include "support/Images.h"
#include "support/Module.h"

namespace {

using namespace DD::Image;
using quorlen::test::make_node;
using quorlen::test::quorlen_description;
using quorlen::test::rgb_source;

const quorlen::Parameters& params(NodeInstance& node) {
  return static_cast<quorlen::Quorlen&>(node.op()).parameters();
}

TEST(Registration, ModuleRegistersQuorlenUnderItsClassName) {
  const auto& d = quorlen_description();
  EXPECT_STREQ(d.name(), "Quorlen");
  EXPECT_STREQ(d.menu(), "Quorlen");
  EXPECT_EQ(d.abi_version(), kAbiVersion);
  auto node = make_node();
  EXPECT_STREQ(node->op().class_name(), d.name());
  EXPECT_NE(d.handle(), 0u);
  EXPECT_EQ(node->op().registration_handle(), d.handle());
  EXPECT_EQ(find_description(node->op().registration_handle()), &d);
}

TEST(Registration, SecondRegistrationOfANameIsRefusedAndTheFirstKept) {
  const auto& first = quorlen_description();
  take_registration_errors();
  const Op::Description second("Quorlen", "Other", [](Node*) -> Iop* { return nullptr; });
  EXPECT_EQ(second.handle(), 0u);
  EXPECT_EQ(find_description("Quorlen"), &first);
  const auto errors = take_registration_errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("already registered"), std::string::npos) << errors[0];
}

TEST(Registration, ModuleBuiltForAnotherLayerVersionIsRefusedAtLoad) {
  take_registration_errors();
  void* handle = dlopen(QUORLEN_TEST_FOREIGN_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  EXPECT_EQ(find_description("ForeignAbi"), nullptr);
  const auto errors = take_registration_errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("ForeignAbi"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("version"), std::string::npos) << errors[0];
}

TEST(Registration, ListingHoldsQuorlen) {
  const auto* quorlen = &quorlen_description();
  const auto all = registered_descriptions();
  EXPECT_NE(std::find(all.begin(), all.end(), quorlen), all.end());
}

TEST(Factory, ReturnsNullWhenTheHostAllocatorFails) {
  quorlen_description();
  DD::Image::testing::fail_next_allocations(1);
  EXPECT_EQ(quorlen_description().constructor()(nullptr), nullptr);
  std::string error;
  DD::Image::testing::fail_next_allocations(1);
  EXPECT_EQ(NodeInstance::create(quorlen_description(), error), nullptr);
  EXPECT_NE(error.find("out of memory"), std::string::npos) << error;
  DD::Image::testing::fail_next_allocations(0);
  EXPECT_NE(NodeInstance::create(quorlen_description(), error), nullptr);
}

TEST(Identity, NewNodeHoldsTheDefaults) {
  auto node = make_node();
  const auto& p = params(*node);
  EXPECT_EQ(p.formatWidth, 1);
  EXPECT_EQ(p.lightType, 0);
  EXPECT_EQ(p.outputType, 0);
  EXPECT_FALSE(p.surfaceNoise);
  EXPECT_EQ(p.surfaceNoiseType, 0);
  EXPECT_EQ(p.stripesNoiseDir, 0);
  const std::vector<std::pair<const quorlen::Float3*, std::array<float, 3>>> triples = {
      {&p._parallelLightDir, {1, 1, 1}}, {&p._pointLightPos, {0, 0, 0}},  {&p._lightColor, {1, 1, 1}},
      {&p._lightScatter, {0, 0, 0}},     {&p._surfaceDiffuse, {1, 1, 1}}, {&p._surfaceSpecular, {0, 0, 0}},
      {&p.noiseOffset, {0, 0, 0}}};
  for (const auto& [v, want] : triples) {
    EXPECT_EQ(v->x, want[0]);
    EXPECT_EQ(v->y, want[1]);
    EXPECT_EQ(v->z, want[2]);
  }
  EXPECT_EQ(p.pointLightRadius, 100.0f);
  EXPECT_EQ(p.pointLightFalloff, 0.0f);
  EXPECT_EQ(p.lightBrightness, 1.0f);
  EXPECT_EQ(p.surfaceSpecularPower, 10.0f);
  EXPECT_EQ(p.noiseMultiply, 1.0f);
  EXPECT_EQ(p.noiseFrequency, 1.0f);
}

TEST(Identity, LabelsClassNameAndHelp) {
  auto node = make_node();
  Iop& op = node->op();
  EXPECT_EQ(op.inputs(), 4);
  const char* labels[] = {"color", "normal", "P", "noiseP"};
  for (int i = 0; i < 4; ++i) EXPECT_STREQ(op.input_name(i), labels[i]);
  EXPECT_STREQ(op.class_name(), "Quorlen");
  EXPECT_STREQ(op.help_text(), "//");
}

TEST(Inputs, UnconnectedInputsAreTheEmptyOperator) {
  auto node = make_node();
  Iop& op = node->op();
  for (int i = 0; i < 4; ++i) {
    ASSERT_NE(op.input(i), nullptr);
    EXPECT_EQ(op.input(i)->channels().size(), 0u);
  }
  EXPECT_EQ(op.input0(), &Iop::empty_input());
  EXPECT_EQ(op.input1(), &Iop::empty_input());
  Row row(-3, 5);
  row.get(*op.input(2), 0, -3, 5, ChannelSet(Mask_RGB));
  for (int x = -3; x < 5; ++x) EXPECT_EQ(row[Chan_Green][x], 0.0f);
}

TEST(Validation, DescriptionComesFromColorMergedWithNormalOnly) {
  auto node = make_node();
  Iop& op = node->op();
  auto fill = [](int, int) { return quorlen::test::Pixel3{1, 2, 3}; };
  auto color = rgb_source({64, 32}, {0, 0, 64, 32}, fill);
  auto normal = rgb_source({16, 16}, {-4, 10, 20, 40}, fill);
  auto position = rgb_source({500, 500}, {-100, -100, 500, 500}, fill);
  auto extra =
      std::make_shared<ImageBuffer>(Box{0, 0, 2, 2}, std::vector<Channel>{getChannel("noiseonly.w")});
  auto noise_position = std::make_unique<MemorySource>(Format{999, 999}, extra);
  op.set_input(0, color.get());
  op.set_input(1, normal.get());
  op.set_input(2, position.get());
  op.set_input(3, noise_position.get());
  op.validate(true);
  EXPECT_EQ(op.format(), (Format{64, 32}));
  EXPECT_EQ(op.bbox(), (Box{-4, 0, 64, 40}));
  EXPECT_EQ(op.channels(), ChannelSet(Mask_RGB));
  EXPECT_EQ(params(*node).formatWidth, 64);

  auto wider = rgb_source({128, 8}, {0, 0, 128, 8}, fill);
  op.set_input(0, wider.get());
  op.validate(true);
  EXPECT_EQ(params(*node).formatWidth, 128);
}

// Records the order in which inputs receive requests.
class RecordingIop : public Iop {
 public:
  RecordingIop(int id, std::vector<int>& log) : Iop(nullptr), id_(id), log_(log) {}
  const char* class_name() const override { return "Recording"; }
  void render_row(int, int, int, const ChannelSet&, Row&) override {}
  void request_inputs(int, int, int, int, const ChannelSet&, int) override { log_.push_back(id_); }

 private:
  int id_;
  std::vector<int>& log_;
};

TEST(Requests, ForwardedUnchangedToAllFourInputsInOrder) {
  auto node = make_node();
  Iop& op = node->op();
  std::vector<int> log;
  std::vector<std::unique_ptr<RecordingIop>> inputs;
  for (int i = 0; i < 4; ++i) {
    inputs.push_back(std::make_unique<RecordingIop>(i, log));
    op.set_input(i, inputs.back().get());
  }
  ChannelSet odd;
  odd.insert(Chan_Alpha);
  odd.insert(getChannel("depth.Z"));
  op.request(-7, 3, 1921, 1081, odd, 5);
  EXPECT_EQ(log, (std::vector<int>{0, 1, 2, 3}));
  for (const auto& in : inputs) {
    EXPECT_EQ(in->requested().box, (Box{-7, 3, 1921, 1081}));
    EXPECT_EQ(in->requested().channels, odd);
    EXPECT_EQ(in->requested().count, 5);
    EXPECT_EQ(in->request_count(), 1);
  }
}

}  // namespace
