// The passes the end-to-end benchmarks read: four zip float EXR files of a plausible scene at a given width
// (16:9), written once into a temporary directory removed at exit.
#pragma once

#include <OpenImageIO/imageio.h>
#include <quorlen/inputs.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace quorlen::bench {

namespace fs = std::filesystem;
using hosting::FrameSources;
using hosting::InputSpec;
using hosting::kInputCount;

struct PassSet {
  fs::path dir;
  FrameSources sources;

  explicit PassSet(int w) {
    const int h = w * 9 / 16;
    dir = fs::temp_directory_path() /
          ("quorlen-render-bench-" + std::to_string(getpid()) + "-" + std::to_string(w));
    fs::create_directories(dir);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const char* names[kInputCount] = {"color.exr", "normal.exr", "P.exr", "noiseP.exr"};
    for (int slot = 0; slot < kInputCount; ++slot) {
      std::vector<float> pixels(static_cast<std::size_t>(w) * h * 3);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const float sx = 2.0f * x / w - 1.0f, sy = 1.0f - 2.0f * y / h;
          const float v[kInputCount][3] = {
              {u(rng), u(rng), u(rng)}, {sx, sy, -0.5f}, {10 * sx, 10 * sy, 5.0f}, {3 * sx, 3 * sy, 1.0f}};
          for (int k = 0; k < 3; ++k) pixels[(static_cast<std::size_t>(y) * w + x) * 3 + k] = v[slot][k];
        }
      OIIO::ImageSpec image_layout(w, h, 3, OIIO::TypeFloat);
      image_layout.attribute("compression", "zip");
      const std::string path = (dir / names[slot]).string();
      auto out = OIIO::ImageOutput::create(path);
      if (!out || !out->open(path, image_layout) || !out->write_image(OIIO::TypeFloat, pixels.data()) ||
          !out->close()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
      }
      sources.inputs[static_cast<std::size_t>(slot)] = InputSpec{path, std::nullopt};
    }
  }
  ~PassSet() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

}  // namespace quorlen::bench
