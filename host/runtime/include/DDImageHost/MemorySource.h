/// \file MemorySource.h  An image operator that serves rows of an in-memory image.
#pragma once

#include <memory>

#include "DDImage/Iop.h"
#include "DDImageHost/ImageBuffer.h"

namespace DD::Image {

/// Serves the channels of an ImageBuffer; its bounding box is the buffer's box, its format the one
/// given. Pixels outside the buffer read as zero.
class MemorySource : public Iop {
 public:
  MemorySource(const Format& format, std::shared_ptr<const ImageBuffer> image);
  const char* class_name() const override { return "MemorySource"; }
  void validate_output(bool for_real) override;
  void render_row(int y, int x, int r, const ChannelSet& channels, Row& out) override;
  void request_inputs(int, int, int, int, const ChannelSet&, int) override {}

 private:
  std::shared_ptr<const ImageBuffer> image_;
};

}  // namespace DD::Image
