/// \file Executor.h  Validating, requesting and rendering an operator in parallel.
#pragma once

#include "DDImage/Box.h"
#include "DDImage/Channel.h"
#include "DDImage/Iop.h"
#include "DDImageHost/ImageBuffer.h"

namespace DD::Image {

struct RenderOptions {
  int threads = 0;     ///< worker threads; 0 = all cores
  int span_width = 0;  ///< split each line into spans of this many pixels; 0 = whole lines
  int grain_rows = 0;  ///< lines per task; 0 = chosen by the scheduler
};

/// Drives an operator as a host does: validate, request, then rows spread over threads. Rows are
/// computed independently, so the result does not depend on the thread count or the split.
class Executor {
 public:
  explicit Executor(RenderOptions options = {});

  /// Validates `op` (inputs first) and requests `box` and `channels` of it.
  void prepare(Iop& op, const Box& box, const ChannelSet& channels);
  /// Renders the lines [y0, y1) of `box` into `out` (whose box must hold them), for the channels of
  /// `out` that are in `channels`. `prepare` must have run.
  void render_lines(Iop& op, const Box& box, const ChannelSet& channels, int y0, int y1, ImageBuffer& out);
  /// prepare, then render_lines over the whole box.
  void render(Iop& op, const Box& box, const ChannelSet& channels, ImageBuffer& out);

  const RenderOptions& options() const { return options_; }

 private:
  RenderOptions options_;
};

}  // namespace DD::Image
