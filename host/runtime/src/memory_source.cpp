/// \file memory_source.cpp  Serving rows of an in-memory image.
#include "DDImage/Row.h"
#include "DDImageHost/MemorySource.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace DD::Image {
namespace {

// Splits pixels [x, r) of an interleaved three-channel line into three planes (indexed by absolute x).
void deinterleave3(const float* src, float* d0, float* d1, float* d2, int x, int r) {
  int i = x;
#if defined(__SSE2__)
  // Four pixels a step: a = r0 g0 b0 r1, b = g1 b1 r2 g2, c = b2 r3 g3 b3.
  for (; i + 4 <= r; i += 4, src += 12) {
    const __m128 a = _mm_loadu_ps(src), b = _mm_loadu_ps(src + 4), c = _mm_loadu_ps(src + 8);
    const __m128 a03b2 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 2, 3, 0));  // r0 r1 r2 r2
    const __m128 b2c1 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2));   // r2 r2 r3 r3
    const __m128 a1b0 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1));   // g0 g0 g1 g1
    const __m128 b3c2 = _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3));   // g2 g2 g3 g3
    const __m128 a2b1 = _mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2));   // b0 b0 b1 b1
    const __m128 c03 = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0));    // b2 b2 b3 b3
    _mm_storeu_ps(d0 + i, _mm_shuffle_ps(a03b2, b2c1, _MM_SHUFFLE(2, 0, 1, 0)));
    _mm_storeu_ps(d1 + i, _mm_shuffle_ps(a1b0, b3c2, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(d2 + i, _mm_shuffle_ps(a2b1, c03, _MM_SHUFFLE(2, 0, 2, 0)));
  }
#endif
  for (; i < r; ++i, src += 3) {
    d0[i] = src[0];
    d1[i] = src[1];
    d2[i] = src[2];
  }
}

}  // namespace

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
    if (n == 3 && count == 3 && targets[0].k == 0 && targets[1].k == 1 && targets[2].k == 2) {
      deinterleave3(src, targets[0].dst, targets[1].dst, targets[2].dst, x, r);  // the usual RGB source
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
