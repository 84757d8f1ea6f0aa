/// \file frame_pipeline.cpp  Reading inputs into bands, rendering bands through the node, streaming a frame.
#include "app/frame_pipeline.h"

#include <algorithm>

#include <fmt/format.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

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

int FrameInputs::band_lines() const {
  int chunk = 1;
  for (const auto& reader : readers_)
    if (reader) chunk = std::max(chunk, reader->chunk_lines());
  const long long line_bytes =
      static_cast<long long>(std::max(1, geometry_.data.w())) * 3 * static_cast<long long>(sizeof(float)) * kInputCount;
  const long long target = std::clamp(kBandBytes / line_bytes, 32LL, 4096LL);
  return static_cast<int>((target + chunk - 1) / chunk * chunk);
}

BandInputs FrameInputs::read_band(int y0, int y1) {
  const Box& data = geometry_.data;
  BandInputs band;
  band.box = Box(data.x(), std::max(y0, data.y()), data.r(), std::min(y1, data.t()));
  // Each input has its own reader, so the files are decoded side by side.
  tbb::parallel_for(0, kInputCount, [&](int slot) {
    auto& reader = readers_[static_cast<std::size_t>(slot)];
    if (!reader && slot != kColor) return;
    auto image = std::make_shared<ImageBuffer>(band.box, kRGB);
    if (reader) reader->read_into(*image);
    band.images[static_cast<std::size_t>(slot)] = std::move(image);
  });
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
  const int chunk = std::max(64, inputs.box.h() / 32);
  for (int y = inputs.box.y(); y < inputs.box.t(); y += chunk) {
    const int end = std::min(inputs.box.t(), y + chunk);
    executor_.render_lines(op_, inputs.box, channels, y, end, *out);
    if (chunk_done) chunk_done(end - y);
  }
  return out;
}

StageTimes stream_frame(FrameInputs& inputs, DD::Image::Iop& op, ImageWriter& writer, const StreamOptions& options,
                        const std::function<void(int)>& lines_done) {
  const ImageGeometry& geometry = inputs.geometry();
  const Box& data = geometry.data;
  const int lines = options.band_lines > 0 ? options.band_lines : inputs.band_lines();
  // The renderer works in whatever arena runs the pipeline, so --threads bounds all three stages together.
  BandRenderer renderer(op, DD::Image::RenderOptions{0, 0, 0});
  StageTimes times;
  int next = data.y();

  // Bands live in slots owned here and only pointers travel through the pipeline: oneTBB does not destroy
  // the items still queued between stages when a stage throws, so owning items would leak on every failed
  // or interrupted frame. With as many slots as tokens and every stage serial and in order, band k + slots
  // is read only after band k has been written, so a slot is never reused while in use.
  const std::size_t slots = static_cast<std::size_t>(std::max(1, options.bands_in_flight));
  struct Slot {
    BandInputs inputs;
    std::shared_ptr<ImageBuffer> rgba;
  };
  std::vector<Slot> ring(slots);
  std::size_t bands_read = 0;

  // Every stage is serial, so each time is only ever added to by one thread at a time.
  const auto read = [&](tbb::flow_control& control) -> Slot* {
    if (next >= data.t()) {
      control.stop();
      return nullptr;
    }
    Stopwatch clock;
    Slot& slot = ring[bands_read++ % slots];
    slot.inputs = inputs.read_band(next, std::min(data.t(), next + lines));
    next = slot.inputs.box.t();
    times.read += clock.lap();
    return &slot;
  };
  const auto render = [&](Slot* slot) {
    Stopwatch clock;
    slot->rgba = renderer.render(slot->inputs, geometry, lines_done);
    slot->inputs = {};  // the input lines are not needed any more
    times.render += clock.lap();
    return slot;
  };
  const auto write = [&](Slot* slot) {
    Stopwatch clock;
    writer.write_lines(*slot->rgba);
    slot->rgba.reset();
    times.write += clock.lap();
  };
  const auto run = [&] {
    using tbb::filter_mode;
    tbb::parallel_pipeline(slots, tbb::make_filter<void, Slot*>(filter_mode::serial_in_order, read) &
                                      tbb::make_filter<Slot*, Slot*>(filter_mode::serial_in_order, render) &
                                      tbb::make_filter<Slot*, void>(filter_mode::serial_in_order, write));
  };
  if (options.threads > 0) {
    tbb::task_arena arena(options.threads);
    arena.execute(run);
  } else {
    run();
  }
  times.pixels = static_cast<long long>(data.w()) * data.h();
  times.frames = 1;
  return times;
}

}  // namespace quorlen::app
