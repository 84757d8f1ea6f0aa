/// \file executor.cpp  Validating, requesting and rendering an operator over threads.
#include "DDImageHost/Executor.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <optional>

#include "DDImage/Row.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace DD::Image {

namespace {

// Writes pixels [x, r) of four rows (indexed by absolute x) into an interleaved RGBA line, in one pass.
void interleave_rgba(const float* s0, const float* s1, const float* s2, const float* s3, float* dst, int x,
                     int r) {
  int i = x;
#if defined(__SSE2__)
  for (; i + 4 <= r; i += 4, dst += 16) {
    __m128 c0 = _mm_loadu_ps(s0 + i), c1 = _mm_loadu_ps(s1 + i), c2 = _mm_loadu_ps(s2 + i),
           c3 = _mm_loadu_ps(s3 + i);
    _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
    _mm_storeu_ps(dst, c0);
    _mm_storeu_ps(dst + 4, c1);
    _mm_storeu_ps(dst + 8, c2);
    _mm_storeu_ps(dst + 12, c3);
  }
#endif
  for (; i < r; ++i, dst += 4) {
    dst[0] = s0[i];
    dst[1] = s1[i];
    dst[2] = s2[i];
    dst[3] = s3[i];
  }
}

}  // namespace

Executor::Executor(RenderOptions options) : options_(options) {}

void Executor::prepare(Iop& op, const Box& box, const ChannelSet& channels) {
  op.validate(true);
  op.request(box.x(), box.y(), box.r(), box.t(), channels, 1);
  op.settle_input_requests();
}

void Executor::render_lines(Iop& op, const Box& box, const ChannelSet& channels, int y0, int y1,
                            ImageBuffer& out) {
  y0 = std::max(y0, box.y());
  y1 = std::min(y1, box.t());
  if (y1 <= y0 || box.w() <= 0) return;

  // Only channels both asked for and held by the buffer are copied out.
  std::vector<std::pair<Channel, int>> targets;
  ChannelSet wanted;
  for (Channel c = channels.first(); c != Chan_Black; c = channels.next(c)) {
    const int k = out.channel_index(c);
    if (k < 0) continue;
    targets.emplace_back(c, k);
    wanted.insert(c);
  }
  const int span = options_.span_width > 0 ? options_.span_width : box.w();
  const int n = out.channel_count();

  const bool rgba_buffer = n == 4 && targets.size() == 4 && targets[0].second == 0 &&
                           targets[1].second == 1 && targets[2].second == 2 && targets[3].second == 3;

  auto render_line = [&](int y) {
    for (int x = box.x(); x < box.r(); x += span) {
      const int r = std::min(box.r(), x + span);
      Row row(x, r);
      row.get(op, y, x, r, wanted);
      float* dst = out.line(y) + static_cast<std::ptrdiff_t>(x - out.box().x()) * n;
      if (rgba_buffer) {
        interleave_rgba(row[targets[0].first], row[targets[1].first], row[targets[2].first],
                        row[targets[3].first], dst, x, r);
      } else {
        for (const auto& [c, k] : targets) {
          const float* src = row[c];
          float* d = dst + k;
          for (int i = x; i < r; ++i, d += n) *d = src[i];
        }
      }
    }
  };

  auto run = [&] {
    const std::size_t grain = options_.grain_rows > 0 ? static_cast<std::size_t>(options_.grain_rows) : 1;
    tbb::parallel_for(tbb::blocked_range<int>(y0, y1, grain), [&](const tbb::blocked_range<int>& lines) {
      for (int y = lines.begin(); y != lines.end(); ++y) render_line(y);
    });
  };
  if (options_.threads > 0) {
    tbb::task_arena arena(options_.threads);
    arena.execute(run);
  } else {
    run();
  }
}

void Executor::render(Iop& op, const Box& box, const ChannelSet& channels, ImageBuffer& out) {
  prepare(op, box, channels);
  render_lines(op, box, channels, box.y(), box.t(), out);
}

}  // namespace DD::Image
