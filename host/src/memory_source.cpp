/// \file memory_source.cpp  Serving rows of an in-memory image.
#include "DDImage/MemorySource.h"

#include "DDImage/Row.h"

namespace DD::Image {

MemorySource::MemorySource(const Format& format, std::shared_ptr<const ImageBuffer> image)
    : Iop(nullptr), image_(std::move(image)) {
  info_.format() = format;
  info_.box() = image_->box();
  for (Channel c : image_->channels()) info_.channels().insert(c);
}

void MemorySource::validate_output(bool) {}

void MemorySource::render_row(int y, int x, int r, const ChannelSet& channels, Row& out) {
  const ImageBuffer& image = *image_;
  const int n = image.channel_count();
  for (Channel c = channels.first(); c != Chan_Black; c = channels.next(c)) {
    const int k = image.channel_index(c);
    if (k < 0) continue;
    float* dst = out.writable(c);
    const float* src = image.line(y) + static_cast<std::ptrdiff_t>(x - image.box().x()) * n + k;
    for (int i = x; i < r; ++i, src += n) dst[i] = *src;
  }
}

}  // namespace DD::Image
