/// \file demo_command.cpp  Rendering the demo scene's passes, previews and contact sheet.
#include "demo/demo_command.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <quorlen/errors.h>
#include <quorlen/render.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "demo/contact_sheet.h"
#include "demo/demo_scene.h"
#include "demo/knob_strips.h"

namespace quorlen::demo {

using namespace quorlen::hosting;
namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr int kSheetColumns = 3;

}  // namespace

const std::vector<DemoPreview>& demo_previews() {
  static const std::vector<DemoPreview> previews = {
      {"parallel_default.png", "parallel light (defaults)", {}, false},
      {"parallel_left.png", "parallel light from the left", {{"_parallelLightDir", "-1,0.8,0.6"}}, false},
      {"point_falloff.png",
       "point light at (1, 1.4, 7.2), falloff 1",
       {{"lightType", "point"},
        {"_pointLightPos", "1,1.4,7.2"},
        {"pointLightRadius", "5"},
        {"pointLightFalloff", "1"},
        {"lightBrightness", "1.8"}},
       false},
      {"specular.png",
       "specular, power 4",
       {{"_surfaceSpecular", "0.9,0.9,0.9"}, {"surfaceSpecularPower", "4"}},
       false},
      {"noise_stripes.png",
       "noise: stripes along y, frequency 10",
       {{"surfaceNoise", "on"},
        {"surfaceNoiseType", "stripes"},
        {"stripesNoiseDir", "y"},
        {"noiseMultiply", "2"},
        {"noiseFrequency", "10"}},
       true},
      {"noise_turbulence1.png",
       "noise: turbulence1",
       {{"surfaceNoise", "on"}, {"surfaceNoiseType", "turbulence1"}, {"noiseMultiply", "2"}},
       true},
      {"noise_turbulence2.png",
       "noise: turbulence2",
       {{"surfaceNoise", "on"}, {"surfaceNoiseType", "turbulence2"}, {"noiseMultiply", "2"}},
       true},
      {"noise_snoise.png",
       "noise: snoise",
       {{"surfaceNoise", "on"}, {"surfaceNoiseType", "snoise"}, {"noiseMultiply", "2"}},
       true},
      {"light_only.png",
       "light output, warm light",
       {{"outputType", "light"}, {"_lightColor", "1,0.8,0.55"}, {"_lightScatter", "0.05,0.08,0.15"}},
       false},
      {"point_shadow.png",
       "point light, soft shadows (world space)",
       {},
       false,
       R"({"lightSpace": "world", "lights": [{"name": "key", "knobs": {"lightType": "point",
           "_pointLightPos": [2.5, 4.5, 4.0], "pointLightRadius": 20, "lightBrightness": 1.6},
           "shadow": {"size": 0.4}}]})"},
      {"spot_shadow.png",
       "spot, 28 deg, penumbra 10, shadows",
       {},
       false,
       R"({"lightSpace": "world", "lights": [{"name": "spot", "knobs": {"lightType": "point",
           "_pointLightPos": [-1.2, 5.5, 4.6], "pointLightRadius": 20, "lightBrightness": 2},
           "spot": {"direction": [0.25, -1, 0.45], "angle": 28, "penumbra": 10}, "shadow": true}]})"},
  };
  return previews;
}

void run_demo(const DD::Image::Op::Description& description, const std::string& dir, int threads,
              std::ostream& out, std::ostream& err) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir))
    throw output_error(
        fmt::format("cannot create directory \"{}\": {}", dir, ec ? ec.message() : "not a directory"));

  const std::string passes = (fs::path(dir) / "demo_passes.exr").string();
  write_demo_passes(build_demo_scene(kWidth, kHeight), passes);
  fmt::print(out, "{}\n", passes);

  std::vector<SheetEntry> sheet;
  for (const DemoPreview& preview : demo_previews()) {
    RenderRequest request;
    request.passes = passes;
    if (preview.noise_on_position) request.inputs[kNoisePosition] = passes + ":P";
    request.settings.sets = preview.sets;
    if (!preview.rig.empty()) request.settings.values = nlohmann::json::parse(preview.rig);
    request.output = (fs::path(dir) / preview.file).string();
    request.threads = threads;
    RenderObserver observer;
    observer.warning = [&](const std::string& w) { fmt::print(err, "quorlen: warning: {}\n", w); };
    run_render(request, description, out, observer);
    fmt::print(out, "{}\n", request.output);
    sheet.push_back({request.output, preview.label});
  }
  const std::string sheet_path = (fs::path(dir) / "contact_sheet.png").string();
  write_contact_sheet(sheet, sheet_path, kSheetColumns);
  fmt::print(out, "{}\n", sheet_path);

  write_knob_strips(description, (fs::path(dir) / "knobs").string(), threads, out, err);
}

}  // namespace quorlen::demo
