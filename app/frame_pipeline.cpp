/// \file frame_pipeline.cpp  Reading inputs into bands and rendering bands through the node.
#include "app/frame_pipeline.h"

#include <algorithm>

#include <fmt/format.h>

#include "DDImage/MemorySource.h"
#include "app/errors.h"

namespace quorlen::app {
namespace {

using DD::Image::Box;
using DD::Image::Chan_Alpha;
using DD::Image::Chan_Blue;
using DD::Image::Chan_Green;
using DD::Image::Chan_Red;
using DD::Image::Channel;
using DD::Image::ImageBuffer;

const std::vector<Channel> kRGB{Chan_Red, Chan_Green, Chan_Blue};
const std::vector<Channel> kRGBA{Chan_Red, Chan_Green, Chan_Blue, Chan_Alpha};

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

FrameInputs::FrameInputs(const FrameSources& sources, std::vector<std::string>& warnings) {
  if (!sources.inputs[kNormal])
    throw usage_error("no normal input: give --normal FILE[:LAYER], or --passes with a file holding a normal layer");
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& input = sources.inputs[static_cast<std::size_t>(slot)];
    if (!input) continue;
    readers_[static_cast<std::size_t>(slot)].emplace(ImageFile(input->file), input->layer.value_or(""),
                                                     sources.max_pixels);
  }
  const int reference = readers_[kColor] ? kColor : kNormal;
  geometry_ = readers_[static_cast<std::size_t>(reference)]->geometry();
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& reader = readers_[static_cast<std::size_t>(slot)];
    if (slot == reference || !reader || reader->geometry().data == geometry_.data) continue;
    warnings.push_back(fmt::format(
        "{} input {} covers {}, the {} input {}; it is read where they overlap and is zero elsewhere",
        kInputLabels[static_cast<std::size_t>(slot)], reader->description(), describe_box(reader->geometry().data),
        kInputLabels[static_cast<std::size_t>(reference)], describe_box(geometry_.data)));
  }
}

std::optional<std::string> FrameInputs::describe(int slot) const {
  const auto& reader = readers_[static_cast<std::size_t>(slot)];
  if (!reader) return std::nullopt;
  return reader->description();
}

BandInputs FrameInputs::read_band(int y0, int y1) {
  const Box& data = geometry_.data;
  BandInputs band;
  band.box = Box(data.x(), std::max(y0, data.y()), data.r(), std::min(y1, data.t()));
  for (int slot = 0; slot < kInputCount; ++slot) {
    auto& reader = readers_[static_cast<std::size_t>(slot)];
    if (!reader && slot != kColor) continue;
    auto image = std::make_shared<ImageBuffer>(band.box, kRGB);
    if (reader) reader->read_into(*image);
    band.images[static_cast<std::size_t>(slot)] = std::move(image);
  }
  return band;
}

BandRenderer::BandRenderer(DD::Image::Iop& op, DD::Image::RenderOptions options) : op_(op), executor_(options) {}

std::shared_ptr<ImageBuffer> BandRenderer::render(const BandInputs& inputs, const ImageGeometry& geometry,
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

  auto out = std::make_shared<ImageBuffer>(inputs.box, kRGBA);
  const DD::Image::ChannelSet channels(DD::Image::Mask_RGBA);
  executor_.prepare(op_, inputs.box, channels);
  // Chunks keep the progress bar moving and let an interrupt stop a long band early.
  const int chunk = std::max(16, inputs.box.h() / 32);
  for (int y = inputs.box.y(); y < inputs.box.t(); y += chunk) {
    const int end = std::min(inputs.box.t(), y + chunk);
    executor_.render_lines(op_, inputs.box, channels, y, end, *out);
    if (chunk_done) chunk_done(end - y);
  }
  return out;
}

}  // namespace quorlen::app
