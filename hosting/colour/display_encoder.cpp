/// \file display_encoder.cpp  Display transforms and input conversions through OpenColorIO's CPU processors.
#include "hosting/colour/display_encoder.h"

#include <OpenColorIO/OpenColorAppHelpers.h>
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "hosting/images/srgb.h"

namespace quorlen::hosting {
namespace {

// The working space straight to the sRGB curve: one exponent-with-linear step of 2.4 and 0.055, inverse.
bool is_plain_srgb(const OCIO::Processor& processor) {
  const auto group = processor.createGroupTransform();
  if (group->getNumTransforms() != 1) return false;
  const auto curve = OCIO::DynamicPtrCast<const OCIO::ExponentWithLinearTransform>(group->getTransform(0));
  if (!curve || curve->getDirection() != OCIO::TRANSFORM_DIR_INVERSE) return false;
  double gamma[4], offset[4];
  curve->getGamma(gamma);
  curve->getOffset(offset);
  for (int k = 0; k < 3; ++k)
    if (gamma[k] != 2.4 || offset[k] != 0.055) return false;
  return curve->getNegativeStyle() == OCIO::NEGATIVE_LINEAR;
}

// Display values as codes, rounded to nearest as an image library converts floats; NaN gives 0.
template <class Code>
Code quantise(float v, float top) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return static_cast<Code>(top);
  return static_cast<Code>(std::lround(v * top));
}

// Three channels of each pixel, times `gain`, packed.
void gather(const float* src, std::size_t pixels, int stride, int r, int g, int b, float gain, float* rgb) {
  for (std::size_t i = 0; i < pixels; ++i, src += stride) {
    rgb[3 * i] = src[r] * gain;
    rgb[3 * i + 1] = src[g] * gain;
    rgb[3 * i + 2] = src[b] * gain;
  }
}

// Whether two pixels' channels hold the same bits (NaNs included), so their display values are the same.
bool same_bits(const float* a, const float* b, int r, int g, int b_) {
  return std::memcmp(a + r, b + r, sizeof(float)) == 0 && std::memcmp(a + g, b + g, sizeof(float)) == 0 &&
         std::memcmp(a + b_, b + b_, sizeof(float)) == 0;
}

// Pixels a task of a large call converts: enough to outweigh scheduling, few enough to share two cores.
constexpr std::size_t kTaskPixels = 4096;

// `work(first, count)` over [0, pixels), in parallel for calls larger than one task.
template <class Work>
void in_parts(std::size_t pixels, const Work& work) {
  if (pixels <= kTaskPixels) return work(std::size_t{0}, pixels);
  tbb::parallel_for(
      tbb::blocked_range<std::size_t>(0, pixels, kTaskPixels),
      [&](const tbb::blocked_range<std::size_t>& part) { work(part.begin(), part.end() - part.begin()); });
}

}  // namespace

DisplayEncoder::DisplayEncoder(const DisplayView& view, double exposure, double gamma) {
  if (!std::isfinite(exposure) || std::abs(exposure) > 64)
    throw usage_error("exposure must be a number of stops between -64 and 64");
  if (!std::isfinite(gamma) || gamma <= 0.0 || gamma > 64)
    throw usage_error("gamma must be a number above 0 and at most 64");
  const auto config = colour_config_in_use();
  const std::string working = colour_config().working_space;
  gain_ = static_cast<float>(std::exp2(exposure));
  try {
    auto transform = OCIO::DisplayViewTransform::Create();
    transform->setSrc(working.c_str());
    transform->setDisplay(view.display.c_str());
    transform->setView(view.view.c_str());
    OCIO::LegacyViewingPipelineRcPtr pipeline = OCIO::LegacyViewingPipeline::Create();
    pipeline->setDisplayViewTransform(transform);
    if (!view.look.empty()) {
      pipeline->setLooksOverrideEnabled(true);
      pipeline->setLooksOverride(view.look.c_str());
    }
    const auto base = pipeline->getProcessor(config);
    // The exposure's gain is applied before the processor in both paths, so the exact path keeps today's
    // preview codes with an exposure too.
    plain_srgb_ = gamma == 1.0 && is_plain_srgb(*base);
    if (plain_srgb_) return;
    if (gamma != 1.0) {
      auto display_cc = OCIO::ExponentTransform::Create();
      const double e[4] = {1.0 / gamma, 1.0 / gamma, 1.0 / gamma, 1.0};
      display_cc->setValue(e);
      display_cc->setNegativeStyle(OCIO::NEGATIVE_CLAMP);
      pipeline->setDisplayCC(display_cc);
    }
    // OpenColorIO's default optimisation, as image tools apply it, so that codes agree with theirs on every
    // pixel; coarser levels change nothing measurable for the shipped views (bench/colour_bench.cpp).
    cpu_ = pipeline->getProcessor(config)->getOptimizedCPUProcessor(OCIO::BIT_DEPTH_F32, OCIO::BIT_DEPTH_F32,
                                                                    OCIO::OPTIMIZATION_DEFAULT);
  } catch (const OCIO::Exception& e) {
    throw usage_error(fmt::format("display \"{}\", view \"{}\": {}", view.display, view.view, e.what()));
  }
}

void DisplayEncoder::display_values(const float* src, std::size_t pixels, int stride, int r, int g, int b,
                                    float* rgb) const {
  // The processor is most of a view's cost, and each display value depends on its own pixel alone: a run
  // of equal pixels (a background, a flat wall) goes through it once, and the rest copy its value.
  std::vector<std::uint8_t> repeats(pixels);
  std::size_t distinct = 0;
  const float* p = src;
  for (std::size_t i = 0; i < pixels; ++i, p += stride) {
    repeats[i] = i > 0 && same_bits(p, p - stride, r, g, b);
    if (repeats[i]) continue;
    rgb[3 * distinct] = p[r] * gain_;
    rgb[3 * distinct + 1] = p[g] * gain_;
    rgb[3 * distinct + 2] = p[b] * gain_;
    ++distinct;
  }
  if (distinct == 0) return;
  OCIO::PackedImageDesc desc(rgb, static_cast<long>(distinct), 1, 3);
  cpu_->apply(desc);
  // Spread from the end, where no value not yet copied can be overwritten.
  std::size_t from = distinct - 1;
  for (std::size_t i = pixels; i-- > 0;) {
    if (i != from) std::memcpy(rgb + 3 * i, rgb + 3 * from, 3 * sizeof(float));
    if (!repeats[i] && from > 0) --from;
  }
}

void DisplayEncoder::codes8(const float* src, std::size_t pixels, int stride, int r, int g, int b,
                            std::uint8_t* rgb) const {
  if (plain_srgb_ && gain_ == 1.0f) return srgb_encode_8bit_pixels(src, pixels, stride, r, g, b, rgb);
  const auto step = static_cast<std::size_t>(stride);
  in_parts(pixels, [&](std::size_t first, std::size_t count) {
    const float* from = src + first * step;
    std::uint8_t* to = rgb + 3 * first;
    std::vector<float> shown(count * 3);
    if (plain_srgb_) {
      gather(from, count, stride, r, g, b, gain_, shown.data());
      return srgb_encode_8bit_pixels(shown.data(), count, 3, 0, 1, 2, to);
    }
    display_values(from, count, stride, r, g, b, shown.data());
    for (std::size_t i = 0; i < count * 3; ++i) to[i] = quantise<std::uint8_t>(shown[i], 255.0f);
  });
}

void DisplayEncoder::codes16(const float* src, std::size_t pixels, int stride, int r, int g, int b,
                             std::uint16_t* rgb) const {
  const std::size_t step = static_cast<std::size_t>(stride);
  if (plain_srgb_) {
    for (std::size_t i = 0; i < pixels; ++i) {
      rgb[3 * i] = srgb_encode_16bit(src[i * step + static_cast<std::size_t>(r)] * gain_);
      rgb[3 * i + 1] = srgb_encode_16bit(src[i * step + static_cast<std::size_t>(g)] * gain_);
      rgb[3 * i + 2] = srgb_encode_16bit(src[i * step + static_cast<std::size_t>(b)] * gain_);
    }
    return;
  }
  in_parts(pixels, [&](std::size_t first, std::size_t count) {
    std::vector<float> shown(count * 3);
    display_values(src + first * step, count, stride, r, g, b, shown.data());
    std::uint16_t* to = rgb + 3 * first;
    for (std::size_t i = 0; i < count * 3; ++i) to[i] = quantise<std::uint16_t>(shown[i], 65535.0f);
  });
}

SpaceConverter::SpaceConverter(const std::string& from, const std::string& to) {
  if (from == to || is_data_space(from) || is_data_space(to)) return;
  try {
    const auto processor = colour_config_in_use()->getProcessor(from.c_str(), to.c_str());
    if (processor->isNoOp()) return;
    cpu_ = processor->getDefaultCPUProcessor();
  } catch (const OCIO::Exception& e) {
    throw usage_error(fmt::format("colour space \"{}\" to \"{}\": {}", from, to, e.what()));
  }
}

void SpaceConverter::apply(float* pixels_data, std::size_t pixels, int channels) const {
  if (!cpu_ || pixels == 0) return;
  OCIO::PackedImageDesc desc(pixels_data, static_cast<long>(pixels), 1, channels);
  cpu_->apply(desc);
}

void SpaceConverter::apply(float* first, std::size_t pixels, int channels, int stride) const {
  if (!cpu_ || pixels == 0) return;
  constexpr auto kFloat = static_cast<std::ptrdiff_t>(sizeof(float));
  const auto x_stride = kFloat * stride;
  OCIO::PackedImageDesc desc(first, static_cast<long>(pixels), 1, channels, OCIO::BIT_DEPTH_F32, kFloat,
                             x_stride, x_stride * static_cast<std::ptrdiff_t>(pixels));
  cpu_->apply(desc);
}

}  // namespace quorlen::hosting
