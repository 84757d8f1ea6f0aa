/// \file render_row.cpp  The operator's row operation: fetch the four input spans, then shade them.
#include "DDImage/Row.h"
#include "plugin/ParametersToShadingSettings.h"
#include "plugin/Quorlen.h"
#include "shading/SpanEngine.h"

namespace quorlen {

using DD::Image::Channel;
using DD::Image::Row;

void Quorlen::render_row(int y, int x, int r, const DD::Image::ChannelSet&, Row& out) {
  if (r <= x) return;
  const DD::Image::ChannelSet components(DD::Image::Mask_RGB);

  DD::Image::Iop* const ops[4] = {input0(), input1(), input(2), input(3)};
  Row color(x, r), normal(x, r), position(x, r), noise_position(x, r);
  Row* const rows[4] = {&color, &normal, &position, &noise_position};
  for (int k = 0; k < 4; ++k) rows[k]->get(*ops[k], y, x, r, components);

  // The component channels are those of the last member's layer: red, green and blue.
  Channel c0 = DD::Image::Chan_Black, c1 = DD::Image::Chan_Black, c2 = DD::Image::Chan_Black;
  for (Channel ch = components.first(); ch != DD::Image::Chan_Black; ch = components.next(ch)) {
    c0 = DD::Image::brother(ch, 0);
    c1 = DD::Image::brother(ch, 1);
    c2 = DD::Image::brother(ch, 2);
  }

  SpanInputs in{};
  const float** const targets[4] = {in.color, in.normal, in.position, in.noise_position};
  for (int k = 0; k < 4; ++k) {
    targets[k][0] = (*rows[k])[c0];
    targets[k][1] = (*rows[k])[c1];
    targets[k][2] = (*rows[k])[c2];
  }
  in.noise_channels = &ops[3]->channels();

  const SpanOutputs outputs{{out.writable(static_cast<Channel>(1)), out.writable(static_cast<Channel>(2)),
                             out.writable(static_cast<Channel>(3)), out.writable(static_cast<Channel>(4))}};
  shade_span(shading_settings(params_), in, outputs, x, r);
}

}  // namespace quorlen
