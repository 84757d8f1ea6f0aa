/// \file shadow_agreement.h  How well a shadow pass agrees with ray-traced truth, away from shadow edges.
#pragma once

#include <cstdlib>
#include <vector>

namespace quorlen::geometry::testing {

struct Agreement {
  long long shadowed = 0, shadowed_found = 0;  ///< truth 0, and of them found below 0.5
  long long lit = 0, lit_kept = 0;             ///< truth 1, and of them found at 0.5 or above
  double shadowed_share() const { return shadowed ? static_cast<double>(shadowed_found) / shadowed : 1.0; }
  double lit_share() const { return lit ? static_cast<double>(lit_kept) / lit : 1.0; }
};

/// Counts the pixels `counted` allows whose truth has no different value within `band` pixels.
inline Agreement agreement(const std::vector<float>& truth, const std::vector<float>& found, int width,
                           int height, const std::vector<char>& counted, int band = 2) {
  Agreement a;
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      const std::size_t k = static_cast<std::size_t>(j) * width + i;
      if (!counted[k]) continue;
      bool edge = false;
      for (int y = j - band; y <= j + band && !edge; ++y)
        for (int x = i - band; x <= i + band && !edge; ++x)
          if (x >= 0 && y >= 0 && x < width && y < height)
            edge = truth[static_cast<std::size_t>(y) * width + x] != truth[k];
      if (edge) continue;
      if (truth[k] < 0.5f) {
        ++a.shadowed;
        a.shadowed_found += found[k] < 0.5f;
      } else {
        ++a.lit;
        a.lit_kept += found[k] >= 0.5f;
      }
    }
  return a;
}

}  // namespace quorlen::geometry::testing
