/// \file region_renderer.h  The render stage: the operator node driven over a region of in-memory inputs.
#pragma once

#include <functional>
#include <memory>

#include "DDImage/Iop.h"
#include "DDImageHost/Executor.h"
#include "DDImageHost/ImageBuffer.h"
#include "hosting/frames/frame_inputs.h"

namespace quorlen::hosting {

/// The render stage: connects in-memory inputs to the operator node, validates it and renders a region.
class RegionRenderer {
 public:
  RegionRenderer(DD::Image::Iop& op, DD::Image::RenderOptions options);

  /// Renders red, green, blue and alpha of `region` (which `inputs` must cover, or which lies within the
  /// output's data window) into a new buffer. The lines are rendered in chunks; after each, `chunk_done`
  /// receives the number of lines finished and may throw to stop. The inputs are disconnected again
  /// before returning. One region at a time: the node is shared.
  std::shared_ptr<DD::Image::ImageBuffer> render(const BandInputs& inputs, const ImageGeometry& geometry,
                                                 const DD::Image::Box& region,
                                                 const std::function<void(int)>& chunk_done = {});
  /// Renders the whole box of `inputs`.
  std::shared_ptr<DD::Image::ImageBuffer> render(const BandInputs& inputs, const ImageGeometry& geometry,
                                                 const std::function<void(int)>& chunk_done = {}) {
    return render(inputs, geometry, inputs.box, chunk_done);
  }

 private:
  DD::Image::Iop& op_;
  DD::Image::Executor executor_;
};

}  // namespace quorlen::hosting
