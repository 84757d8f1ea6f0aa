/// \file ImageBuffer.h  An in-memory float image with named channels.
#pragma once

#include <cstddef>
#include <vector>

#include "DDImage/Box.h"
#include "DDImage/Channel.h"

namespace DD::Image {

/// Pixels of a box, channels interleaved per pixel in the order given, rows from y upwards. Owns its
/// samples, or views samples someone else owns (see view()).
class ImageBuffer {
 public:
  ImageBuffer() = default;
  /// All samples start at 0.
  ImageBuffer(const Box& box, std::vector<Channel> channels);
  /// A buffer over `samples`, laid out as an owned one would be, which the caller keeps alive (and
  /// unchanged while it is read) for as long as the view and its copies are used.
  static ImageBuffer view(const Box& box, std::vector<Channel> channels, float* samples);

  ImageBuffer(const ImageBuffer& other);
  ImageBuffer& operator=(const ImageBuffer& other);
  ImageBuffer(ImageBuffer&& other) noexcept;
  ImageBuffer& operator=(ImageBuffer&& other) noexcept;
  ~ImageBuffer() = default;

  /// Whether the samples belong to someone else.
  bool is_view() const { return data_ != nullptr && storage_.empty(); }

  const Box& box() const { return box_; }
  const std::vector<Channel>& channels() const { return channels_; }
  int channel_count() const { return static_cast<int>(channels_.size()); }
  /// Position of channel c in a pixel, or -1.
  int channel_index(Channel c) const;

  /// First sample of line y (absolute), pixel box().x().
  float* line(int y) { return data_ + offset(box_.x(), y); }
  const float* line(int y) const { return data_ + offset(box_.x(), y); }
  float& at(int x, int y, int channel_index) { return data_[offset(x, y) + channel_index]; }
  float at(int x, int y, int channel_index) const { return data_[offset(x, y) + channel_index]; }
  float* data() { return data_; }
  const float* data() const { return data_; }
  /// Samples in all: pixels times channels.
  std::size_t size() const {
    return static_cast<std::size_t>(box_.w()) * static_cast<std::size_t>(box_.h()) * channels_.size();
  }

 private:
  std::size_t offset(int x, int y) const {
    return (static_cast<std::size_t>(y - box_.y()) * static_cast<std::size_t>(box_.w()) +
            static_cast<std::size_t>(x - box_.x())) *
           channels_.size();
  }

  Box box_;
  std::vector<Channel> channels_;
  std::vector<float> storage_;  // empty for a view
  float* data_ = nullptr;
};

}  // namespace DD::Image
