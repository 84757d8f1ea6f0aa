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
  // One pass over the interleaved line, however many channels are asked for.
  struct Target {
    float* dst;
    int k;
  };
  Target targets[8];
  int count = 0;
  const auto flush = [&] {
    const float* src = image.line(y) + static_cast<std::ptrdiff_t>(x - image.box().x()) * n;
    if (count == 3) {  // the usual RGB source, unrolled
      float* d0 = targets[0].dst;
      float* d1 = targets[1].dst;
      float* d2 = targets[2].dst;
      const int k0 = targets[0].k, k1 = targets[1].k, k2 = targets[2].k;
      for (int i = x; i < r; ++i, src += n) {
        d0[i] = src[k0];
        d1[i] = src[k1];
        d2[i] = src[k2];
      }
    } else {
      for (int i = x; i < r; ++i, src += n)
        for (int t = 0; t < count; ++t) targets[t].dst[i] = src[targets[t].k];
    }
    count = 0;
  };
  for (Channel c = channels.first(); c != Chan_Black; c = channels.next(c)) {
    const int k = image.channel_index(c);
    if (k < 0) continue;
    targets[count++] = {out.writable(c), k};
    if (count == 8) flush();
  }
  if (count > 0) flush();
}

}  // namespace DD::Image
