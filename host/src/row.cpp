/// \file row.cpp  Rows: per-channel spans addressed by absolute x, and fetching them from operators.
#include "DDImage/Row.h"

#include <algorithm>
#include <cstdint>

#include "DDImage/Iop.h"

namespace DD::Image {

Row::Row(int x, int r) : x_(x), r_(std::max(x, r)) {}

Row::~Row() = default;

// Shifts a buffer holding pixels [x_, r_) so that it can be indexed by absolute x. Done on integers so the
// shifted pointer never exists as an out-of-bounds pointer value.
float* Row::origin(float* buffer) const {
  auto address = reinterpret_cast<std::uintptr_t>(buffer);
  address -= static_cast<std::uintptr_t>(static_cast<std::intptr_t>(x_)) * sizeof(float);
  return reinterpret_cast<float*>(address);
}

float* Row::find(Channel c) const {
  for (const auto& [channel, buffer] : planes_)
    if (channel == c) return origin(buffer.get());
  return nullptr;
}

bool Row::has(Channel c) const { return find(c) != nullptr; }

float* Row::writable(Channel c) {
  if (float* p = find(c)) return p;
  const auto width = static_cast<std::size_t>(r_ - x_);
  planes_.emplace_back(c, std::make_unique_for_overwrite<float[]>(width == 0 ? 1 : width));
  return origin(planes_.back().second.get());
}

const float* Row::operator[](Channel c) const {
  if (const float* p = find(c)) return p;
  if (!zeros_) zeros_ = std::make_unique<float[]>(static_cast<std::size_t>(r_ - x_) + 1);
  return origin(zeros_.get());
}

void Row::get(Iop& op, int y, int x, int r, const ChannelSet& channels) {
  x = std::max(x, x_);
  r = std::min(r, r_);
  if (r <= x) return;
  // The operator fills its own channels inside its box; only the rest is cleared here.
  const Box& box = op.bbox();
  const bool on_line = y >= box.y() && y < box.t();
  const int from = on_line ? std::clamp(box.x(), x, r) : r;
  const int to = on_line ? std::clamp(box.r(), from, r) : r;
  const ChannelSet present = from < to ? channels & op.channels() : ChannelSet();
  for (Channel c = channels.first(); c != Chan_Black; c = channels.next(c)) {
    float* p = writable(c);
    if (present.contains(c)) {
      std::fill(p + x, p + from, 0.0f);
      std::fill(p + to, p + r, 0.0f);
    } else {
      std::fill(p + x, p + r, 0.0f);
    }
  }
  if (!present.empty()) op.render_row(y, from, to, present, *this);
}

}  // namespace DD::Image
