/// \file ImageBuffer.h  An in-memory float image with named channels.
#pragma once

#include <cstddef>
#include <vector>

#include "DDImage/Box.h"
#include "DDImage/Channel.h"

namespace DD::Image {

/// Pixels of a box, channels interleaved per pixel in the order given, rows from y upwards.
class ImageBuffer {
 public:
  ImageBuffer() = default;
  /// All samples start at 0.
  ImageBuffer(const Box& box, std::vector<Channel> channels);

  const Box& box() const { return box_; }
  const std::vector<Channel>& channels() const { return channels_; }
  int channel_count() const { return static_cast<int>(channels_.size()); }
  /// Position of channel c in a pixel, or -1.
  int channel_index(Channel c) const;

  /// First sample of line y (absolute), pixel box().x().
  float* line(int y) { return data_.data() + offset(box_.x(), y); }
  const float* line(int y) const { return data_.data() + offset(box_.x(), y); }
  float& at(int x, int y, int channel_index) { return data_[offset(x, y) + channel_index]; }
  float at(int x, int y, int channel_index) const { return data_[offset(x, y) + channel_index]; }
  float* data() { return data_.data(); }
  const float* data() const { return data_.data(); }

 private:
  std::size_t offset(int x, int y) const {
    return (static_cast<std::size_t>(y - box_.y()) * static_cast<std::size_t>(box_.w()) +
            static_cast<std::size_t>(x - box_.x())) *
           channels_.size();
  }

  Box box_;
  std::vector<Channel> channels_;
  std::vector<float> data_;
};

}  // namespace DD::Image
