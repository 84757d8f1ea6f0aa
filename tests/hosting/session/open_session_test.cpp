// A session opened from the request a render takes: the settings applied, the inputs read, and the paths
// its front end will write refused up front when they would overwrite what it is made from.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/session.h>

#include <fstream>

#include "support/HostingTestSupport.h"

namespace quorlen::hosting {
namespace {

using hosting_test::TempDir;

class OpenSession : public ::testing::Test {
 protected:
  void SetUp() override {
    hosting_test::write_image(dir_ / "passes.exr", 4, 3,
                              {hosting_test::constant_layer({"R", "G", "B"}, {0.5f, 0.5f, 0.5f}, 4, 3),
                               hosting_test::constant_layer({"N.X", "N.Y", "N.Z"}, {0, 0, 1}, 4, 3)});
    std::ofstream(dir_ / "look.json") << R"({"lightBrightness": 2})";
    request_.passes = dir_ / "passes.exr";
    request_.settings.settings_file = dir_ / "look.json";
  }

  std::string refusal(const SessionTargets& targets) {
    std::vector<std::string> warnings;
    try {
      open_session(request_, load_module(QUORLEN_TEST_PLUGIN), targets, warnings);
    } catch (const Error& e) {
      // Paths that clash with the inputs are the request's fault; a directory cannot be written at all.
      EXPECT_EQ(e.kind(),
                hosting_test::contains(e.what(), "directory") ? ErrorKind::output : ErrorKind::usage);
      return e.what();
    }
    return "opened";
  }

  TempDir dir_;
  RenderRequest request_;
};

TEST_F(OpenSession, ReadsTheInputsAndAppliesTheSettings) {
  std::vector<std::string> warnings;
  auto session = open_session(request_, load_module(QUORLEN_TEST_PLUGIN),
                              {std::string(dir_ / "out.png"), std::string(dir_ / "look.json")}, warnings);
  EXPECT_TRUE(session->has_inputs());
  EXPECT_EQ(session->geometry().data.w(), 4);
  EXPECT_EQ(session->node().value_text("lightBrightness"), "2");
  EXPECT_TRUE(warnings.empty());
}

TEST_F(OpenSession, RefusesTargetsOverItsOwnFiles) {
  EXPECT_TRUE(hosting_test::contains(refusal({std::string(dir_ / "passes.exr"), std::nullopt}), "--passes"));
  EXPECT_TRUE(hosting_test::contains(refusal({std::string(dir_ / "look.json"), std::nullopt}), "--settings"));
  EXPECT_TRUE(hosting_test::contains(refusal({std::nullopt, std::string(dir_ / "passes.exr")}), "--passes"));
  EXPECT_TRUE(
      hosting_test::contains(refusal({std::string(dir_ / "out.unknown"), std::nullopt}), "out.unknown"));
  EXPECT_TRUE(hosting_test::contains(refusal({dir_.path().string(), std::nullopt}), "director"));
  // Saving over the settings file it was opened with is what a Save does.
  EXPECT_EQ(refusal({std::nullopt, std::string(dir_ / "look.json")}), "opened");
}

}  // namespace
}  // namespace quorlen::hosting
