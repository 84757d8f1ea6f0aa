// Helpers shared by the codec tests: samples that exercise conversion, the message a codec failure carries,
// and writing damaged bytes back.
#pragma once

#include <cstddef>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "hosting/images/codecs.h"

namespace quorlen::hosting_test {

// Samples that exercise conversion: signs, tiny and huge values, and the special ones.
inline std::vector<float> samples(std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-4.0f, 4.0f);
  const float specials[] = {0.0f,
                            -0.0f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            1e-30f,
                            65504.0f,
                            7e5f};
  std::vector<float> out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = i % 11 == 0 ? specials[(i / 11) % 8] : value(rng);
  return out;
}

constexpr const char* kNothingThrown = "(nothing thrown)";

// The message of the codec_error `f` throws, or kNothingThrown.
template <class F>
std::string failure_of(F&& f) {
  try {
    f();
  } catch (const quorlen::hosting::codec_error& e) {
    return e.what();
  }
  return kNothingThrown;
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace quorlen::hosting_test
