// `quorlen knobs`, `quorlen demo`, --help and --version.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/HostingTestSupport.h"

namespace {

using namespace quorlen::hosting_test;

TEST(Knobs, TableShowsValuesRangesAndAvailabilityAfterTheSettings) {
  TempDir dir;
  RunResult r = run_quorlen({"knobs"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("label", 0), 0u) << r.out;
  std::istringstream lines(r.out);
  std::string line;
  int rows = 0;
  std::map<std::string, std::string> by_name;
  for (std::getline(lines, line); std::getline(lines, line); ++rows) {
    std::istringstream words(line);
    std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
    for (const auto& word : w)
      if (word == "lightType" || word == "_parallelLightDir" || word == "pointLightRadius" ||
          word == "surfaceNoiseType")
        by_name[word] = line;
  }
  EXPECT_EQ(rows, 18);  // every value knob
  EXPECT_TRUE(contains(by_name["lightType"], " parallel ")) << by_name["lightType"];
  EXPECT_TRUE(contains(by_name["pointLightRadius"], "0 to 500")) << by_name["pointLightRadius"];
  EXPECT_EQ(by_name["_parallelLightDir"].substr(by_name["_parallelLightDir"].size() - 3), "yes");
  EXPECT_EQ(by_name["surfaceNoiseType"].substr(by_name["surfaceNoiseType"].size() - 2), "no");

  r = run_quorlen({"knobs", "--set", "lightType=point", "--set", "surfaceNoise=on"}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "point")) << r.out;
}

TEST(Knobs, JsonDescribesThePanelAfterOpeningIt) {
  TempDir dir;
  const std::string settings = dir / "s.json";
  std::ofstream(settings) << R"({"lightType": 1, "surfaceNoise": true, "surfaceNoiseType": "snoise"})";
  const RunResult r = run_quorlen({"knobs", "--json", "--settings", settings}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  const auto panel = nlohmann::json::parse(r.out);
  EXPECT_EQ(panel["class"], "Quorlen");
  EXPECT_EQ(panel["inputs"], nlohmann::json({"color", "normal", "P", "noiseP"}));
  std::map<std::string, nlohmann::json> knobs;
  for (const auto& k : panel["knobs"])
    if (k["name"].is_string()) knobs[k["name"].get<std::string>()] = k;
  EXPECT_EQ(knobs["lightType"]["value"], 1);
  EXPECT_EQ(knobs["_parallelLightDir"]["available"], false);
  EXPECT_EQ(knobs["_pointLightPos"]["available"], true);
  EXPECT_EQ(knobs["surfaceNoiseType"]["available"], true);
  EXPECT_EQ(knobs["stripesNoiseDir"]["available"], false);  // only for stripes
}

TEST(Help, CommandsAndOptionsAreDescribedAndVersionIsPrinted) {
  TempDir dir;
  RunResult r = run_quorlen({"--help"}, dir);
  EXPECT_EQ(r.code, 0);
  for (const char* word : {"render", "knobs", "demo", "--plugin-path", "--version", "Exit codes"})
    EXPECT_TRUE(contains(r.out, word)) << word;
  r = run_quorlen({"render", "--help"}, dir);
  EXPECT_EQ(r.code, 0);
  for (const char* word : {"--color", "--normal", "--P", "--noiseP", "--passes", "--set", "--settings",
                           "--output", "--frames", "--threads", "--stats", "--dry-run"})
    EXPECT_TRUE(contains(r.out, word)) << word;
  r = run_quorlen({"--version"}, dir);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("quorlen " QUORLEN_TEST_VERSION, 0), 0u) << r.out;
}

TEST(Demo, WritesPassesPreviewsAndASheetThatShowTheirSettings) {
  TempDir dir;
  const std::string out = dir / "demo";
  const RunResult r = run_quorlen({"demo", "-o", out}, dir);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* file : {"demo_passes.exr", "parallel_default.png", "point_falloff.png", "specular.png",
                           "noise_stripes.png", "noise_turbulence1.png", "noise_turbulence2.png",
                           "noise_snoise.png", "light_only.png", "contact_sheet.png"}) {
    EXPECT_TRUE(fs::exists(fs::path(out) / file)) << file;
    EXPECT_TRUE(contains(r.out, (fs::path(out) / file).string())) << file << " not printed";
  }
  const ReadImage passes = read_image(out + "/demo_passes.exr");
  EXPECT_EQ(passes.spec.channelnames,
            (std::vector<std::string>{"R", "G", "B", "N.X", "N.Y", "N.Z", "P.X", "P.Y", "P.Z"}));

  OIIO::ImageSpec spec;
  const auto plain = read_bytes(out + "/parallel_default.png", spec);
  ASSERT_EQ(spec.width, 480);
  ASSERT_EQ(spec.height, 270);
  ASSERT_EQ(spec.nchannels, 3);
  // The sky (top row) is black; the lit scene is not.
  EXPECT_EQ(std::count(plain.begin(), plain.begin() + 480 * 3, 0), 480 * 3);
  EXPECT_GT(std::count_if(plain.begin(), plain.end(), [](unsigned char v) { return v > 128; }),
            480 * 270 / 10);
  // Every other preview looks different from the default one.
  for (const char* file : {"point_falloff.png", "specular.png", "noise_stripes.png", "noise_turbulence1.png",
                           "noise_turbulence2.png", "noise_snoise.png", "light_only.png"}) {
    OIIO::ImageSpec s;
    const auto other = read_bytes(out + "/" + file, s);
    ASSERT_EQ(other.size(), plain.size()) << file;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) differing += other[i] != plain[i];
    EXPECT_GT(differing, plain.size() / 50) << file;
  }
  OIIO::ImageSpec sheet;
  read_bytes(out + "/contact_sheet.png", sheet);
  EXPECT_GT(sheet.width, 3 * 480);
  EXPECT_GT(sheet.height, 3 * 270);
}

}  // namespace
