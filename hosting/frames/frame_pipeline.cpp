/// \file frame_pipeline.cpp  Streaming a frame: reading, rendering and writing bands of lines, overlapped.
#include "hosting/frames/frame_pipeline.h"

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "hosting/rig/light_factor.h"
#include "hosting/rig/light_sum.h"

namespace quorlen::hosting {

using DD::Image::Box;
using DD::Image::ImageBuffer;

namespace {

// The node writes alpha 0; a compositor copies the colour's alpha after it, and so does the output.
void copy_alpha(const ImageBuffer& from, ImageBuffer& to) {
  const int a = to.channel_index(DD::Image::Chan_Alpha);
  const int r = from.channel_index(DD::Image::Chan_Red);
  if (a < 0 || r < 0) return;
  const Box area = from.box().intersected(to.box());
  for (int y = area.y(); y < area.t(); ++y)
    for (int x = area.x(); x < area.r(); ++x) to.at(x, y, a) = from.at(x, y, r);
}

bool has_normal(float x, float y, float z) { return x != 0.0f || y != 0.0f || z != 0.0f; }

// Surface pixels are those with a normal; those mostly along +z as the node sees them are counted too: a
// ground seen from above in a z-up world.
void count_surface(const ImageBuffer& normals, LightReach& reach) {
  const Box& box = normals.box();
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x) {
      const float nx = normals.at(x, y, 0), ny = normals.at(x, y, 1), nz = normals.at(x, y, 2);
      if (!has_normal(nx, ny, nz)) continue;
      ++reach.surface;
      if (nz > 0.7f * std::sqrt(nx * nx + ny * ny + nz * nz)) ++reach.facing_z;
    }
}

// A light reaches a surface pixel when its node's output there is above 0 in any channel (before a mask,
// which limits a light on purpose).
void count_lit(const ImageBuffer& normals, const ImageBuffer& out, long long& lit) {
  const Box& box = normals.box();
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x)
      if (has_normal(normals.at(x, y, 0), normals.at(x, y, 1), normals.at(x, y, 2)) &&
          (out.at(x, y, 0) > 0.0f || out.at(x, y, 1) > 0.0f || out.at(x, y, 2) > 0.0f))
        ++lit;
}

}  // namespace

StageTimes stream_frame(FrameInputs& inputs, DD::Image::Iop& op, ImageWriter& writer,
                        const StreamOptions& options, const std::function<void(int)>& lines_done) {
  return stream_lights(inputs, {LightPass{&op, -1, false}}, false, writer, options, lines_done);
}

StageTimes stream_lights(FrameInputs& inputs, const std::vector<LightPass>& lights, bool layers,
                         ImageWriter& writer, const StreamOptions& options,
                         const std::function<void(int)>& lines_done, LightReach* reach) {
  if (reach) reach->lit.assign(lights.size(), 0);
  const ImageGeometry& geometry = inputs.geometry();
  const Box& data = geometry.data;
  const int lines = options.band_lines > 0 ? options.band_lines : inputs.band_lines();
  // The renderers work in whatever arena runs the pipeline, so --threads bounds all three stages together.
  std::vector<std::unique_ptr<RegionRenderer>> renderers;
  for (const LightPass& light : lights)
    renderers.push_back(std::make_unique<RegionRenderer>(*light.op, DD::Image::RenderOptions{0, 0, 0}));
  // One light as it is, without a mask or layers, is written exactly as the node rendered it.
  const bool plain = lights.size() == 1 && lights[0].mask < 0 && !lights[0].factor && !layers;
  StageTimes times;
  int next = data.y();

  // Bands live in slots owned here and only pointers travel through the pipeline: oneTBB does not destroy
  // the items still queued between stages when a stage throws, so owning items would leak on every failed
  // or interrupted frame. With as many slots as tokens and every stage serial and in order, band k + slots
  // is read only after band k has been written, so a slot is never reused while in use.
  const std::size_t slots = static_cast<std::size_t>(inputs.bands_in_flight(options.bands_in_flight));
  struct Slot {
    BandInputs inputs;
    std::shared_ptr<ImageBuffer> rgba;
    std::vector<std::shared_ptr<ImageBuffer>> layers;
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
  const std::function<void(int)> no_progress;
  const auto render = [&](Slot* slot) {
    Stopwatch clock;
    if (plain) {
      slot->rgba = renderers[0]->render(slot->inputs, geometry, lines_done);
      if (reach) {
        count_surface(*slot->inputs.images[kNormal], *reach);
        count_lit(*slot->inputs.images[kNormal], *slot->rgba, reach->lit[0]);
      }
    } else {
      slot->layers.clear();
      if (reach) count_surface(*slot->inputs.images[kNormal], *reach);
      for (std::size_t i = 0; i < lights.size(); ++i) {
        // The band's lines are done when the last light has them.
        auto out =
            renderers[i]->render(slot->inputs, geometry, i + 1 == lights.size() ? lines_done : no_progress);
        if (reach) count_lit(*slot->inputs.images[kNormal], *out, reach->lit[i]);
        if (lights[i].factor) lights[i].factor->apply(*out);
        if (lights[i].mask >= 0)
          apply_mask(*slot->inputs.masks[static_cast<std::size_t>(lights[i].mask)], lights[i].invert, *out);
        slot->layers.push_back(std::move(out));
      }
      slot->rgba = beauty_of(slot->layers, slot->inputs.box);
      if (lights.empty() && lines_done) lines_done(slot->inputs.box.h());
      if (!layers) slot->layers.clear();
    }
    if (slot->inputs.alpha) copy_alpha(*slot->inputs.alpha, *slot->rgba);
    slot->inputs = {};  // the input lines are not needed any more
    times.render += clock.lap();
    return slot;
  };
  const auto write = [&](Slot* slot) {
    Stopwatch clock;
    writer.write_lines(*slot->rgba, slot->layers);
    slot->rgba.reset();
    slot->layers.clear();
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

}  // namespace quorlen::hosting
