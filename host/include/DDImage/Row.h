/// \file Row.h  One horizontal span of one scan line, per channel.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "DDImage/Channel.h"

namespace DD::Image {

class Iop;

/// Float samples of pixels [x, r) of one line, held per channel. Pointers returned by operator[] and
/// writable() are indexed by the absolute pixel x, so p[x] .. p[r - 1] are the row's pixels.
class Row {
 public:
  Row(int x, int r);
  ~Row();
  Row(const Row&) = delete;
  Row& operator=(const Row&) = delete;

  int getLeft() const { return x_; }
  int getRight() const { return r_; }

  /// Fills pixels [x, r) of line y with the channels of `op` (clipped to this row's span). Pixels outside
  /// the operator's bounding box, and channels the operator does not have, read as 0.
  void get(Iop& op, int y, int x, int r, const ChannelSet& channels);

  /// Read pointer for channel c. A channel this row does not hold reads as zeros.
  const float* operator[](Channel c) const;
  /// Write pointer for channel c; storage is made on first use and is not cleared.
  float* writable(Channel c);
  /// Whether this row holds storage for channel c.
  bool has(Channel c) const;

 private:
  float* find(Channel c) const;
  float* origin(float* buffer) const;

  int x_;
  int r_;
  std::vector<std::pair<Channel, std::unique_ptr<float[]>>> planes_;
  mutable std::unique_ptr<float[]> zeros_;
};

}  // namespace DD::Image
