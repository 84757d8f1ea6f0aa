// A session opened from the request a render takes: the settings applied, the inputs read, and the paths
// its front end will write refused up front when they would overwrite what it is made from.
#include <gtest/gtest.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <quorlen/session.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <sstream>

#include "geometry/synthetic_scene.h"
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

// Passes of spheres on a ground plane whose normals a renderer wrote in its camera's space, y down and z
// towards the viewer.
class CameraSpaceSession : public ::testing::Test {
 protected:
  void SetUp() override {
    const geometry::testing::Pinhole camera;
    const auto passes = geometry::testing::render(camera.width, camera.height, camera.rays());
    const auto [right, up, forward] = camera.axes();
    std::vector<float> normals(passes.n.size());
    for (std::size_t k = 0; k < normals.size(); k += 3) {
      const geometry::Vec3 n{passes.n[k], passes.n[k + 1], passes.n[k + 2]};
      normals[k] = static_cast<float>(geometry::dot(n, right));
      normals[k + 1] = -static_cast<float>(geometry::dot(n, up));
      normals[k + 2] = -static_cast<float>(geometry::dot(n, forward));
    }
    hosting_test::write_image(dir_ / "passes.exr", camera.width, camera.height,
                              {{{"N.X", "N.Y", "N.Z"}, normals}, {{"P.X", "P.Y", "P.Z"}, passes.p}});
    request_.passes = dir_ / "passes.exr";
    request_.settings.settings_file = dir_ / "rig.json";
    request_.output = dir_ / "out.exr";
    write_settings({{"lightSpace", "world"},
                    {"normalSpace", "camera"},
                    {"normalFlip", "Z,y"},
                    {"outputType", "light"},
                    {"_parallelLightDir", {-0.5, 1, -0.7}}});
  }

  void write_settings(const nlohmann::json& settings) { std::ofstream(dir_ / "rig.json") << settings.dump(); }

  // The command's render of the request and the session's of the same request, red, green and blue.
  std::pair<std::vector<float>, std::vector<float>> both() {
    std::ostringstream out;
    run_render(request_, load_module(QUORLEN_TEST_PLUGIN), out);
    const auto file = hosting_test::read_image(request_.output);
    std::vector<float> command, session;
    for (std::size_t i = 0; i < file.pixels.size(); i += 4)
      command.insert(command.end(), &file.pixels[i], &file.pixels[i + 3]);
    std::vector<std::string> warnings;
    auto opened = open_session(request_, load_module(QUORLEN_TEST_PLUGIN), {}, warnings);
    const DD::Image::ImageBuffer image = opened->render();
    for (int y = image.box().y(); y < image.box().t(); ++y)
      for (int x = image.box().x(); x < image.box().r(); ++x)
        for (int c = 0; c < 3; ++c) session.push_back(image.at(x, y, c));
    return {command, session};
  }

  static bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
  }

  TempDir dir_;
  RenderRequest request_;
};

TEST_F(CameraSpaceSession, ReadsTheNormalsAsTheCommandDoes) {
  const auto [command, session] = both();
  ASSERT_FALSE(command.empty());
  EXPECT_TRUE(same_bits(command, session));
  int lit = 0;
  for (std::size_t i = 1; i < session.size(); i += 3) lit += session[i] > 0;
  EXPECT_GT(lit, static_cast<int>(session.size() / 3 / 2));

  // The request's own choice wins over the file's, in the session as in the command.
  request_.normal_flip = NormalFlip{};
  const auto [unflipped, session_unflipped] = both();
  EXPECT_TRUE(same_bits(unflipped, session_unflipped));
  EXPECT_FALSE(same_bits(unflipped, command));
}

TEST_F(CameraSpaceSession, RefusesWhatTheCommandRefuses) {
  const auto kind_of = [this](std::string& message) -> std::optional<ErrorKind> {
    std::vector<std::string> warnings;
    try {
      open_session(request_, load_module(QUORLEN_TEST_PLUGIN), {}, warnings);
    } catch (const Error& e) {
      message = e.what();
      return e.kind();
    }
    return std::nullopt;
  };
  // P of random values: no camera saw it.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> any(-5, 5);
  std::vector<float> noise(16 * 16 * 3);
  for (float& v : noise) v = any(random);
  hosting_test::write_image(
      dir_ / "random.exr", 16, 16,
      {{{"N.X", "N.Y", "N.Z"}, std::vector<float>(noise.size(), 0.5f)}, {{"P.X", "P.Y", "P.Z"}, noise}});
  request_.passes = dir_ / "random.exr";
  std::string message;
  EXPECT_EQ(kind_of(message), ErrorKind::input);
  EXPECT_TRUE(hosting_test::contains(message, "--normal-space camera: no camera fits P")) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos);

  request_.passes = std::nullopt;
  request_.inputs[kNormal] = dir_ / "passes.exr" + ":N";
  EXPECT_EQ(kind_of(message), ErrorKind::usage);
  EXPECT_TRUE(hosting_test::contains(message, "no P input")) << message;

  write_settings({{"normalFlip", "yy"}});
  EXPECT_EQ(kind_of(message), ErrorKind::usage);
  EXPECT_TRUE(hosting_test::contains(message, "normalFlip: \"yy\" is not x or y or z (did you mean \"y\"?)"))
      << message;
}

}  // namespace
}  // namespace quorlen::hosting
