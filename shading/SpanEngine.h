/// \file SpanEngine.h  The per-pixel relighting of one span: the reference engine and the fast one.
#pragma once

#include "DDImage/Channel.h"
#include "shading/ShadingSettings.h"

namespace quorlen {

/// Read pointers of one span's inputs, three components each, indexed by absolute x.
struct SpanInputs {
  const float* color[3];
  const float* normal[3];
  const float* position[3];
  const float* noise_position[3];
  /// Channels of the "noiseP" input; when empty, the noise is sampled at the normal as read.
  const DD::Image::ChannelSet* noise_channels;
};

/// Write pointers of red, green, blue and alpha, indexed by absolute x.
struct SpanOutputs {
  float* rgba[4];
};

/// Relights pixels [x, r): noise bump, normalisation, light vector and intensity, specular then diffuse,
/// and the "texture" or "light" output; alpha is 0. The straightforward scalar form, one pixel at a time,
/// kept as the reference the fast form must match bit for bit.
void shade_span_reference(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x,
                          int r);

/// shade_span_reference, bit for bit, with per-span constants hoisted and the noise evaluated for many
/// pixels per host call (batched when the host layer offers it, unless built with scalar noise only).
void shade_span(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x, int r);

/// shade_span as it is built against a host layer that offers only scalar noise.
void shade_span_scalar_noise(const ShadingSettings& s, const SpanInputs& in, const SpanOutputs& out, int x,
                             int r);

}  // namespace quorlen
