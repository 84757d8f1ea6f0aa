/// \file image_buffer.cpp  In-memory float images.
#include <algorithm>
#include <utility>

#include "DDImageHost/ImageBuffer.h"

namespace DD::Image {

ImageBuffer::ImageBuffer(const Box& box, std::vector<Channel> channels)
    : box_(box.empty() ? Box{} : box), channels_(std::move(channels)) {
  storage_.assign(size(), 0.0f);
  data_ = storage_.data();
}

ImageBuffer ImageBuffer::view(const Box& box, std::vector<Channel> channels, float* samples) {
  ImageBuffer out;
  out.box_ = box.empty() ? Box{} : box;
  out.channels_ = std::move(channels);
  out.data_ = samples;
  return out;
}

ImageBuffer::ImageBuffer(const ImageBuffer& other)
    : box_(other.box_), channels_(other.channels_), storage_(other.storage_), data_(other.data_) {
  if (!storage_.empty()) data_ = storage_.data();
}

ImageBuffer& ImageBuffer::operator=(const ImageBuffer& other) {
  if (this != &other) *this = ImageBuffer(other);
  return *this;
}

// A moved vector keeps its heap block, so data_ stays valid for owned samples too.
ImageBuffer::ImageBuffer(ImageBuffer&& other) noexcept
    : box_(other.box_),
      channels_(std::move(other.channels_)),
      storage_(std::move(other.storage_)),
      data_(std::exchange(other.data_, nullptr)) {
  other.box_ = Box{};
}

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
  box_ = std::exchange(other.box_, Box{});
  channels_ = std::move(other.channels_);
  storage_ = std::move(other.storage_);
  data_ = std::exchange(other.data_, nullptr);
  return *this;
}

int ImageBuffer::channel_index(Channel c) const {
  const auto it = std::find(channels_.begin(), channels_.end(), c);
  return it == channels_.end() ? -1 : static_cast<int>(it - channels_.begin());
}

}  // namespace DD::Image
