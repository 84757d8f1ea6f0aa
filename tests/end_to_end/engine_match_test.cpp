// The command-line render against the operator driven in memory: reading, mapping and writing must not
// change a single bit, for every light, output and noise type, on inputs with NaN, infinities and -0.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "DDImageHost/Executor.h"
#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/MemorySource.h"
#include "support/HostingTestSupport.h"
#include "support/Module.h"

namespace {

using namespace quorlen::hosting_test;
using namespace DD::Image;

constexpr int kWidth = 48;
constexpr int kHeight = 5;

// Mostly ordinary values, with the awkward ones mixed in.
std::vector<float> random_pass(std::mt19937& rng, float scale) {
  std::uniform_real_distribution<float> value(-scale, scale);
  std::uniform_int_distribution<int> pick(0, 19);
  const float special[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(), -0.0f, 0.0f};
  std::vector<float> v(kWidth * kHeight * 3);
  for (float& f : v) {
    const int p = pick(rng);
    f = p < 5 ? special[p] : value(rng);
  }
  // A few whole zero vectors.
  for (int i = 0; i < 3; ++i)
    v[static_cast<std::size_t>(i * 7 * 3)] = v[static_cast<std::size_t>(i * 7 * 3 + 1)] =
        v[static_cast<std::size_t>(i * 7 * 3 + 2)] = 0.0f;
  return v;
}

Layer layer_of(std::vector<std::string> names, const std::vector<float>& v) {
  return Layer{std::move(names), v};
}

// The same pixels as a source of red, green and blue, rows as the command-line host numbers them.
std::unique_ptr<MemorySource> source_of(const std::vector<float>& v) {
  auto image = std::make_shared<ImageBuffer>(Box(0, 0, kWidth, kHeight),
                                             std::vector<Channel>{Chan_Red, Chan_Green, Chan_Blue});
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int k = 0; k < 3; ++k) image->at(x, y, k) = v[static_cast<std::size_t>((y * kWidth + x) * 3 + k)];
  return std::make_unique<MemorySource>(Format(kWidth, kHeight), image);
}

TEST(EngineMatch, WrittenPixelsAreBitIdenticalToTheOperatorInMemory) {
  std::mt19937 rng(20240611);
  const auto color = random_pass(rng, 2.0f), normal = random_pass(rng, 1.5f),
             position = random_pass(rng, 40.0f), noise = random_pass(rng, 3.0f);
  TempDir dir;
  const std::string passes = dir / "passes.exr", out = dir / "out.exr";
  write_image(passes, kWidth, kHeight,
              {layer_of({"R", "G", "B"}, color), layer_of({"N.X", "N.Y", "N.Z"}, normal),
               layer_of({"P.X", "P.Y", "P.Z"}, position), layer_of({"Pref.X", "Pref.Y", "Pref.Z"}, noise)});
  const auto sources = std::array{source_of(color), source_of(normal), source_of(position), source_of(noise)};

  const std::vector<std::vector<std::string>> settings = {
      {},
      {"lightType=point", "_pointLightPos=3,-2,10", "pointLightRadius=60", "pointLightFalloff=1.5"},
      {"outputType=light", "_surfaceSpecular=0.5,0.2,1", "_lightScatter=0.1,0.2,0.3",
       "surfaceSpecularPower=3"},
      {"surfaceNoise=on", "surfaceNoiseType=stripes", "stripesNoiseDir=x|z", "noiseFrequency=2"},
      {"surfaceNoise=on", "surfaceNoiseType=turbulence1", "noiseMultiply=1.7", "noiseOffset=0.5,1,2"},
      {"surfaceNoise=on", "surfaceNoiseType=turbulence2", "lightType=point", "outputType=light"},
      {"surfaceNoise=on", "surfaceNoiseType=snoise", "noiseFrequency=0.5"},
  };
  for (const auto& sets : settings) {
    std::string label;
    std::vector<std::string> args = {"render", "--passes", passes, "-o", out};
    for (const auto& s : sets) {
      args.insert(args.end(), {"--set", s});
      label += s + " ";
    }
    const RunResult r = run_quorlen(args, dir);
    ASSERT_EQ(r.code, 0) << label << r.err;
    const ReadImage written = read_image(out);
    ASSERT_EQ(written.spec.nchannels, 4);

    auto node = quorlen::test::make_node();
    for (const auto& s : sets) {
      std::string error;
      const auto eq = s.find('=');
      ASSERT_TRUE(set_knob(node->op(), s.substr(0, eq), s.substr(eq + 1), error)) << error;
    }
    for (int i = 0; i < 4; ++i) node->op().set_input(i, sources[static_cast<std::size_t>(i)].get());
    ImageBuffer expected(Box(0, 0, kWidth, kHeight), {Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha});
    Executor(RenderOptions{1, 0, 0}).render(node->op(), expected.box(), Mask_RGBA, expected);

    int mismatches = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        for (int k = 0; k < 4; ++k) {
          const auto got = std::bit_cast<std::uint32_t>(written.at(x, y, k));
          const auto want = std::bit_cast<std::uint32_t>(expected.at(x, y, k));
          if (got != want && mismatches++ < 5)
            ADD_FAILURE() << label << "at (" << x << ", " << y << ") channel " << k << ": "
                          << written.at(x, y, k) << " != " << expected.at(x, y, k);
        }
    EXPECT_EQ(mismatches, 0) << label;
  }
}

}  // namespace
