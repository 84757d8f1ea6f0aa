/// \file knob_strips.cpp  Rendering a strip of the demo scene per knob, each tile at one of its values.
#include "demo/knob_strips.h"

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <quorlen/errors.h>
#include <quorlen/render.h>

#include <filesystem>

#include "demo/contact_sheet.h"
#include "demo/demo_scene.h"

namespace quorlen::demo {

using namespace quorlen::hosting;
namespace fs = std::filesystem;

namespace {

// Small tiles keep the strips quick to render; the labels, in the sheet's font, fit their width.
constexpr int kTileWidth = 200;
constexpr int kTileHeight = 112;

// The demo's point light: among the spheres, behind the front ones in depth, so that it lights the sides
// facing the camera (the node negates the light vector's z).
const std::vector<KnobSetting> kPointLight = {{"lightType", "point"},
                                              {"_pointLightPos", "1,1.4,7.2"},
                                              {"pointLightRadius", "5"},
                                              {"pointLightFalloff", "1"},
                                              {"lightBrightness", "1.8"}};

// Turbulence, sampled at the positions (the strips connect P as noiseP) so the bumps stay on the surfaces.
const std::vector<KnobSetting> kTurbulence = {{"surfaceNoise", "on"}, {"surfaceNoiseType", "turbulence1"}};

std::vector<KnobSetting> with(std::vector<KnobSetting> sets, const std::vector<KnobSetting>& more) {
  sets.insert(sets.end(), more.begin(), more.end());
  return sets;
}

// Removes the tiles' working directory however the strips end.
struct RemovedAfterwards {
  fs::path path;
  ~RemovedAfterwards() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

void make_directory(const fs::path& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir))
    throw output_error(fmt::format("cannot create directory \"{}\": {}", dir.string(),
                                   ec ? ec.message() : "not a directory"));
}

}  // namespace

const std::vector<KnobStrip>& knob_strips() {
  static const std::vector<KnobStrip> strips = {
      {"_parallelLightDir", "dir", {"1,1,1", "-1,0.8,0.6", "0,1,0", "0,0,1", "1,0,0"}, {}, false},
      {"_pointLightPos",
       "pos",
       {"1,1.4,3", "1,1.4,5", "1,1.4,7.2", "1,1.4,9", "1,1.4,11"},
       kPointLight,
       false},
      {"pointLightRadius", "radius", {"1", "2.5", "5", "10", "500"}, kPointLight, false},
      {"pointLightFalloff", "falloff", {"0", "0.5", "1", "3", "10"}, kPointLight, false},
      {"lightBrightness", "brightness", {"0", "0.5", "1", "2", "5"}, {}, false},
      {"_lightScatter", "scatter", {"0", "0.1", "0.25", "0.5", "1"}, {}, false},
      {"_surfaceSpecular", "specular", {"0", "0.25", "0.5", "1"}, {{"surfaceSpecularPower", "2"}}, false},
      {"surfaceSpecularPower", "power", {"1", "1.5", "2", "4", "30"}, {{"_surfaceSpecular", "0.9"}}, false},
      {"surfaceNoiseType",
       "type",
       {"stripes", "turbulence1", "turbulence2", "snoise"},
       {{"surfaceNoise", "on"}, {"noiseMultiply", "2"}},
       true},
      {"noiseMultiply", "multiply", {"0", "0.25", "0.5", "1", "2"}, kTurbulence, true},
      // Octaves stop at the image's width / 12, which is 16 for these tiles: from 8 on the lowest octave,
      // 2 x frequency + 1, lies above it and the surface stays flat.
      {"noiseFrequency",
       "frequency",
       {"0", "1", "2", "4", "7"},
       with(kTurbulence, {{"noiseMultiply", "2"}}),
       true},
  };
  return strips;
}

void write_knob_strips(const DD::Image::Op::Description& description, const std::string& dir, int threads,
                       std::ostream& out, std::ostream& err) {
  make_directory(dir);
  const RemovedAfterwards work{fs::path(dir) / ".tiles"};
  make_directory(work.path);

  const std::string passes = (work.path / "passes.exr").string();
  write_demo_passes(build_demo_scene(kTileWidth, kTileHeight), passes);

  for (const KnobStrip& strip : knob_strips()) {
    std::vector<SheetEntry> tiles;
    for (std::size_t i = 0; i < strip.values.size(); ++i) {
      RenderRequest request;
      request.passes = passes;
      if (strip.noise_on_position) request.inputs[kNoisePosition] = passes + ":P";
      request.settings.sets = strip.fixed;
      request.settings.sets.push_back({strip.knob, strip.values[i]});
      request.output = (work.path / fmt::format("{}_{}.png", strip.knob, i)).string();
      request.threads = threads;
      RenderObserver observer;
      observer.warning = [&](const std::string& w) { fmt::print(err, "quorlen: warning: {}\n", w); };
      run_render(request, description, out, observer);
      tiles.push_back({request.output, strip.word + " " + strip.values[i]});
    }
    const std::string path = (fs::path(dir) / (strip.knob + ".png")).string();
    write_contact_sheet(tiles, path, static_cast<int>(tiles.size()));
    fmt::print(out, "{}\n", path);
  }
}

}  // namespace quorlen::demo
