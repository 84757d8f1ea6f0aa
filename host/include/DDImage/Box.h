/// \file Box.h  Integer pixel rectangles and image formats.
#pragma once

#include <algorithm>

namespace DD::Image {

/// Half-open pixel rectangle [x, r) × [y, t). Empty when r <= x or t <= y.
class Box {
 public:
  constexpr Box() = default;
  constexpr Box(int x, int y, int r, int t) : x_(x), y_(y), r_(r), t_(t) {}

  constexpr int x() const { return x_; }
  constexpr int y() const { return y_; }
  constexpr int r() const { return r_; }
  constexpr int t() const { return t_; }
  constexpr int w() const { return r_ - x_; }
  constexpr int h() const { return t_ - y_; }
  constexpr bool empty() const { return r_ <= x_ || t_ <= y_; }

  /// Smallest box holding both; an empty box contributes nothing.
  constexpr Box merged(const Box& o) const {
    if (o.empty()) return *this;
    if (empty()) return o;
    return {std::min(x_, o.x_), std::min(y_, o.y_), std::max(r_, o.r_), std::max(t_, o.t_)};
  }
  /// Common part of both, or an empty box.
  constexpr Box intersected(const Box& o) const {
    Box b{std::max(x_, o.x_), std::max(y_, o.y_), std::min(r_, o.r_), std::min(t_, o.t_)};
    return b.empty() ? Box{} : b;
  }
  constexpr bool operator==(const Box&) const = default;

 private:
  int x_ = 0, y_ = 0, r_ = 0, t_ = 0;
};

/// The full frame of an image: width and height in pixels, origin at (0, 0).
class Format {
 public:
  constexpr Format() = default;
  constexpr Format(int width, int height) : width_(width), height_(height) {}
  constexpr int width() const { return width_; }
  constexpr int height() const { return height_; }
  constexpr Box box() const { return {0, 0, width_, height_}; }
  constexpr bool operator==(const Format&) const = default;

 private:
  int width_ = 0, height_ = 0;
};

}  // namespace DD::Image
