/// \file image_buffer.cpp  In-memory float images.
#include "DDImage/ImageBuffer.h"

#include <algorithm>

namespace DD::Image {

ImageBuffer::ImageBuffer(const Box& box, std::vector<Channel> channels)
    : box_(box.empty() ? Box{} : box), channels_(std::move(channels)) {
  data_.assign(static_cast<std::size_t>(box_.w()) * static_cast<std::size_t>(box_.h()) * channels_.size(), 0.0f);
}

int ImageBuffer::channel_index(Channel c) const {
  const auto it = std::find(channels_.begin(), channels_.end(), c);
  return it == channels_.end() ? -1 : static_cast<int>(it - channels_.begin());
}

}  // namespace DD::Image
