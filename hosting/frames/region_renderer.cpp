/// \file region_renderer.cpp  Connecting in-memory inputs to the node and rendering a region of it.
#include "hosting/frames/region_renderer.h"

#include <algorithm>

#include "DDImageHost/MemorySource.h"

namespace quorlen::hosting {
namespace {

using DD::Image::ImageBuffer;

const std::vector<DD::Image::Channel> kRGBA{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue,
                                            DD::Image::Chan_Alpha};

// Disconnects the node's inputs however the render ends, since the sources die with the band.
class ConnectedInputs {
 public:
  ConnectedInputs(DD::Image::Iop& op, const std::array<DD::Image::Iop*, kInputCount>& sources) : op_(op) {
    for (int i = 0; i < kInputCount; ++i) op_.set_input(i, sources[static_cast<std::size_t>(i)]);
  }
  ~ConnectedInputs() {
    for (int i = 0; i < kInputCount; ++i) op_.set_input(i, nullptr);
  }
  ConnectedInputs(const ConnectedInputs&) = delete;
  ConnectedInputs& operator=(const ConnectedInputs&) = delete;

 private:
  DD::Image::Iop& op_;
};

}  // namespace

RegionRenderer::RegionRenderer(DD::Image::Iop& op, DD::Image::RenderOptions options)
    : op_(op), executor_(options) {}

std::shared_ptr<ImageBuffer> RegionRenderer::render(const BandInputs& inputs, const ImageGeometry& geometry,
                                                    const DD::Image::Box& region,
                                                    const std::function<void(int)>& chunk_done) {
  const DD::Image::Format format = geometry.format();
  std::array<std::unique_ptr<DD::Image::MemorySource>, kInputCount> sources;
  std::array<DD::Image::Iop*, kInputCount> connected{};
  for (std::size_t i = 0; i < sources.size(); ++i) {
    if (!inputs.images[i]) continue;
    sources[i] = std::make_unique<DD::Image::MemorySource>(format, inputs.images[i]);
    connected[i] = sources[i].get();
  }
  const ConnectedInputs connection(op_, connected);

  auto out = std::make_shared<ImageBuffer>(region, kRGBA);
  if (region.empty()) return out;
  const DD::Image::ChannelSet channels(DD::Image::Mask_RGBA);
  executor_.prepare(op_, region, channels);
  // Chunks keep a progress display moving and let an interrupt stop a long region early.
  const int chunk = std::max(64, region.h() / 32);
  for (int y = region.y(); y < region.t(); y += chunk) {
    const int end = std::min(region.t(), y + chunk);
    executor_.render_lines(op_, region, channels, y, end, *out);
    if (chunk_done) chunk_done(end - y);
  }
  return out;
}

}  // namespace quorlen::hosting
