// EXR zip chunks read and written with libdeflate against OpenEXR's own zlib path, one thread, on a
// 1920 x 1080 RGB frame of noise (like a texture pass) and of gradients (like normal and position passes),
// in float and half: MB/s of unpacked samples. PackLevel shows each libdeflate level's bytes against the
// file OpenEXR writes, to choose the level by.
#include <Imath/half.h>
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "hosting/images/exr/exr_decoder.h"
#include "hosting/images/exr/exr_encoder.h"
#include "hosting/images/exr/zip_chunks.h"

namespace {

using namespace quorlen::hosting;
namespace fs = std::filesystem;

constexpr int kWidth = 1920, kHeight = 1080, kChannels = 3;

std::vector<float> frame(bool noise) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> pixels(static_cast<std::size_t>(kWidth) * kHeight * kChannels);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const float sx = 2.0f * x / kWidth - 1.0f, sy = 1.0f - 2.0f * y / kHeight;
      float* p = &pixels[(static_cast<std::size_t>(y) * kWidth + x) * kChannels];
      if (noise) {
        p[0] = u(rng), p[1] = u(rng), p[2] = u(rng);
      } else {
        p[0] = 10 * sx, p[1] = 10 * sy, p[2] = 5.0f;
      }
    }
  return pixels;
}

EncoderSpec layout(bool half) {
  EncoderSpec e;
  e.data = e.display = DD::Image::Box(0, 0, kWidth, kHeight);
  e.channels = {"R", "G", "B"};
  e.half = half;
  return e;
}

fs::path scratch(const std::string& name) {
  return fs::temp_directory_path() / ("quorlen-zip-bench-" + std::to_string(getpid()) + "-" + name);
}

void write_file(const fs::path& path, const std::vector<float>& pixels, bool half, ZipEncoding zip) {
  auto out = create_exr(path.string(), layout(half), zip);
  out->write(kHeight, pixels.data());
  out->close();
}

double unpacked_bytes(bool half) { return double(kWidth) * kHeight * kChannels * (half ? 2 : 4); }

// Arguments: libdeflate (1) or OpenEXR (0), noise (1) or gradients (0), half (1) or float (0).
void BM_Write(benchmark::State& state) {
  const tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
  const auto zip = state.range(0) ? ZipEncoding::libdeflate : ZipEncoding::openexr;
  const bool half = state.range(2) != 0;
  const auto pixels = frame(state.range(1) != 0);
  const fs::path path = scratch("write.exr");
  for (auto _ : state) write_file(path, pixels, half, zip);
  state.counters["MB/s"] =
      benchmark::Counter(unpacked_bytes(half) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["file MB"] = double(fs::file_size(path)) / 1e6;
  fs::remove(path);
}

// The file is written by OpenEXR, so both readers read the same bytes.
void BM_Read(benchmark::State& state) {
  const tbb::global_control one(tbb::global_control::max_allowed_parallelism, 1);
  const auto zip = state.range(0) ? ZipDecoding::libdeflate : ZipDecoding::openexr;
  const bool half = state.range(2) != 0;
  const fs::path path = scratch("read.exr");
  write_file(path, frame(state.range(1) != 0), half, ZipEncoding::openexr);
  std::vector<float> pixels(static_cast<std::size_t>(kWidth) * kHeight * kChannels);
  for (auto _ : state) {
    auto in = open_exr(path.string(), zip);
    in->read(0, 0, kHeight, 0, kChannels, pixels.data(), kChannels * sizeof(float),
             kChannels * sizeof(float) * kWidth);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["MB/s"] =
      benchmark::Counter(unpacked_bytes(half) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  fs::remove(path);
}

// Arguments: level, noise, half. Packs the frame's 16-line chunks as they are stored (each line's channels
// one after another) and reports their bytes over those of OpenEXR's file.
void BM_PackLevel(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  const bool half = state.range(2) != 0;
  const auto pixels = frame(state.range(1) != 0);
  const fs::path path = scratch("level.exr");
  write_file(path, pixels, half, ZipEncoding::openexr);
  const double zlib_bytes = double(fs::file_size(path));
  fs::remove(path);

  const std::size_t sample = half ? 2 : 4, line = std::size_t{kWidth} * kChannels * sample;
  std::vector<std::uint8_t> stored(line * kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int c = 0; c < kChannels; ++c)  // B, G, R: channels are stored in name order
      for (int x = 0; x < kWidth; ++x) {
        const float v = pixels[(static_cast<std::size_t>(y) * kWidth + x) * kChannels + (kChannels - 1 - c)];
        std::uint8_t* out = &stored[y * line + (c * kWidth + x) * sample];
        if (half) {
          const std::uint16_t bits = Imath::half(v).bits();
          std::memcpy(out, &bits, 2);
        } else {
          std::memcpy(out, &v, 4);
        }
      }
  ZipPacker packer(level);
  double packed = 0;
  for (auto _ : state) {
    packed = 0;
    for (std::size_t at = 0; at < stored.size(); at += 16 * line)
      packed += double(packer.pack(stored.data() + at, std::min(16 * line, stored.size() - at)).size()) + 8;
  }
  state.counters["MB/s"] =
      benchmark::Counter(unpacked_bytes(half) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["size / zlib"] = packed / zlib_bytes;
}

void codec_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"libdeflate", "noise", "half"})->Unit(benchmark::kMillisecond);
  for (int noise : {1, 0})
    for (int half : {0, 1})
      for (int lib : {0, 1}) b->Args({lib, noise, half});
}

void level_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"level", "noise", "half"})->Unit(benchmark::kMillisecond);
  for (int noise : {1, 0})
    for (int half : {0, 1})
      for (int level = 1; level <= 9; ++level) b->Args({level, noise, half});
}

BENCHMARK(BM_Write)->Apply(codec_cases);
BENCHMARK(BM_Read)->Apply(codec_cases);
BENCHMARK(BM_PackLevel)->Apply(level_cases);

}  // namespace

BENCHMARK_MAIN();
