/// \file session.cpp  Inputs read once, regions rendered on demand.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/session.h>
#include <tbb/task_arena.h>

#include <algorithm>

#include "hosting/frames/frame_camera.h"
#include "hosting/frames/frame_inputs.h"
#include "hosting/frames/normal_frame.h"
#include "hosting/frames/region_renderer.h"

namespace quorlen::hosting {

using DD::Image::Box;
using DD::Image::ImageBuffer;

Session::Session(const DD::Image::Op::Description& description) : node_(description) {}

Session::~Session() = default;

void Session::read_inputs(const FrameSources& given, std::vector<std::string>& warnings) {
  FrameSources sources = given;
  const bool camera_space = sources.normal_space == NormalSpace::camera;
  if (camera_space) sources.frame_pixel_bytes = frame_camera_pixel_bytes(0);
  FrameInputs inputs(sources, warnings);
  std::unique_ptr<FrameCamera> camera;
  if (camera_space) camera = frame_camera(sources, inputs.geometry());
  inputs.set_normal_frame(sources.normal_flip, normal_axes(sources.normal_space, camera.get()));
  const Box& data = inputs.geometry().data;
  BandInputs read = inputs.read_band(data.y(), data.t());
  geometry_ = inputs.geometry();
  images_ = std::move(read.images);
  alpha_ = std::move(read.alpha);
}

namespace {

void check_images(const ImageGeometry& geometry,
                  const std::array<std::shared_ptr<const ImageBuffer>, kInputCount>& images) {
  if (!images[kNormal]) throw usage_error("no normal input");
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& image = images[static_cast<std::size_t>(slot)];
    if (!image) continue;
    if (image->box() != geometry.data)
      throw usage_error(fmt::format("the {} input covers {}, not the data window {}",
                                    kInputLabels[static_cast<std::size_t>(slot)], describe_box(image->box()),
                                    describe_box(geometry.data)));
    for (DD::Image::Channel c : {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue})
      if (image->channel_index(c) < 0)
        throw usage_error(fmt::format("the {} input has no red, green and blue channels",
                                      kInputLabels[static_cast<std::size_t>(slot)]));
  }
}

}  // namespace

void Session::set_inputs(const ImageGeometry& geometry,
                         std::array<std::shared_ptr<const ImageBuffer>, kInputCount> images) {
  check_images(geometry, images);
  // A render without a colour input reads black, as a streamed one does.
  if (!images[kColor])
    images[kColor] = std::make_shared<const ImageBuffer>(
        geometry.data,
        std::vector<DD::Image::Channel>{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  geometry_ = geometry;
  images_ = std::move(images);
  alpha_.reset();
}

void Session::set_inputs(const ImageGeometry& geometry,
                         std::array<std::shared_ptr<const ImageBuffer>, kInputCount> images,
                         const PassReading& reading) {
  check_images(geometry, images);
  const bool plain = reading.light_space == LightSpace::node &&
                     reading.normal_encoding == NormalEncoding::signed_values &&
                     reading.normal_space == NormalSpace::world && reading.normal_flip == NormalFlip{};
  if (!plain) {
    std::unique_ptr<FrameCamera> camera;
    if (reading.normal_space == NormalSpace::camera && images[kPosition])
      camera = frame_camera_of(*images[kPosition], geometry);
    const std::optional<NormalAxes> axes = normal_axes(reading.normal_space, camera.get());
    // A copy of a view would view the same samples, so the samples are copied one by one.
    const ImageBuffer& given = *images[kNormal];
    auto converted = std::make_shared<ImageBuffer>(given.box(), given.channels());
    std::copy(given.data(), given.data() + given.size(), converted->data());
    read_normals(*converted, converted->box(), reading.light_space, reading.normal_encoding,
                 reading.normal_flip, axes);
    images[kNormal] = std::move(converted);
  }
  set_inputs(geometry, std::move(images));
}

ImageBuffer Session::render(const Box& region, int threads) {
  if (!has_inputs()) throw usage_error("no inputs to render: connect a normal input first");
  const Box clipped = region.intersected(geometry_.data);
  RegionRenderer renderer(node_.op(), DD::Image::RenderOptions{0, 0, 0});
  std::shared_ptr<ImageBuffer> out;
  BandInputs inputs;
  inputs.box = geometry_.data;
  inputs.images = images_;
  inputs.alpha = alpha_;
  const auto run = [&] { out = renderer.render(inputs, geometry_, clipped); };
  if (threads > 0) {
    tbb::task_arena arena(threads);
    arena.execute(run);
  } else {
    run();
  }
  return std::move(*out);
}

}  // namespace quorlen::hosting
