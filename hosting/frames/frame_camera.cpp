/// \file frame_camera.cpp  P read whole, the camera from its header or fitted to it.
#include "hosting/frames/frame_camera.h"

#include <fmt/format.h>
#include <quorlen/camera.h>
#include <quorlen/errors.h>

#include "geometry/normal_frames.h"
#include "hosting/images/image_file.h"

namespace quorlen::hosting {
namespace {

geometry::Matrix44 matrix_of(const std::array<double, 16>& m) {
  geometry::Matrix44 out{};
  for (std::size_t k = 0; k < 16; ++k) out[k / 4][k % 4] = m[k];
  return out;
}

std::string projection_word(const geometry::Camera& c) {
  return c.projection == geometry::Projection::pinhole ? "pinhole" : "orthographic";
}

}  // namespace

long long frame_camera_pixel_bytes(int fields) {
  return 3 * static_cast<long long>(sizeof(float)) + fields * geometry::DepthField::kBytesPerPixel;
}

const geometry::DepthField& FrameCamera::field(const geometry::DepthRules& rules) {
  // NaN cannot key a map; -1 stands for a value left to the scene's scale.
  const std::pair<double, double> key{rules.thickness.value_or(-1), rules.bias.value_or(-1)};
  auto& made = fields_[key];
  if (!made) made = std::make_unique<geometry::DepthField>(*camera, grid, rules);
  return *made;
}

std::string FrameCamera::describe() const {
  if (!camera)
    return fmt::format("none: no camera fits P ({}; residual {:.3g} px over {} surface pixels){}",
                       fit.problem, fit.residual, fit.points, origin.empty() ? "" : "; " + origin);
  return fmt::format("{} {}, {:.3g} px RMS from P over {} surface pixels", projection_word(*camera), origin,
                     fit.residual, fit.points);
}

void FrameCamera::require(std::string_view what) const {
  if (camera) return;
  throw input_error(fmt::format("{}: no camera fits P: {} (residual {:.3g} px over {} surface pixels)", what,
                                fit.problem, fit.residual, fit.points));
}

std::unique_ptr<FrameCamera> frame_camera(const FrameSources& sources, const ImageGeometry& geometry) {
  const auto& position_input = sources.inputs[kPosition];
  if (!position_input)
    throw usage_error("no P input: the camera is found from P; give --P FILE[:LAYER] or --passes");
  auto made = std::make_unique<FrameCamera>(geometry.data);
  FrameCamera& c = *made;
  ImageFile file(position_input->file);
  const LayerInfo& layer = file.layer(position_input->layer.value_or(""));
  const PartHeader header = file.part(layer.subimage);
  LayerReader reader(std::move(file), position_input->layer.value_or(""), sources.max_pixels);
  reader.read_into(c.position);
  c.grid = geometry::Grid3{geometry.data.w(),
                           geometry.data.h(),
                           c.position.data(),
                           c.position.channel_count(),
                           geometry.data.x() - header.display.x(),
                           geometry.data.y() - header.display.y()};
  if (header.world_to_ndc) {
    // Any surface point: it fixes which way the depth runs.
    geometry::Vec3 inside{};
    for (int j = 0; j < c.grid.height && inside == geometry::Vec3{}; ++j)
      for (int i = 0; i < c.grid.width; ++i)
        if (geometry::is_surface(c.grid.at(i, j))) {
          const float* p = c.grid.at(i, j);
          inside = {p[0], p[1], p[2]};
          break;
        }
    const std::optional<geometry::Matrix44> to_camera =
        header.world_to_camera ? std::optional(matrix_of(*header.world_to_camera)) : std::nullopt;
    const auto given = geometry::camera_from_matrices(matrix_of(*header.world_to_ndc), to_camera,
                                                      header.display.w(), header.display.h(), inside);
    if (given) {
      c.fit = geometry::measure_camera(*given, c.grid);
      if (c.fit.camera) {
        c.camera = c.fit.camera;
        c.origin = fmt::format("from the header of \"{}\" (worldToNDC{})", reader.path(),
                               header.world_to_camera ? ", worldToCamera" : "");
        return made;
      }
    }
    c.origin = fmt::format("the header's worldToNDC is {:.3g} px from P, so it was fitted to P instead",
                           c.fit.residual);
  }
  const std::string note = c.origin;
  c.fit = geometry::fit_camera(c.grid);
  if (c.fit.camera && c.fit.camera->projection == geometry::Projection::orthographic &&
      sources.inputs[kNormal] && sources.normal_space == NormalSpace::world) {
    // Which way an orthographic camera looks, the surfaces it saw say: they face it.
    DD::Image::ImageBuffer normals(geometry.data,
                                   {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
    LayerReader n(ImageFile(sources.inputs[kNormal]->file), sources.inputs[kNormal]->layer.value_or(""),
                  sources.max_pixels);
    n.read_into(normals);
    transform_normals(normals, geometry.data, LightSpace::node, sources.normal_encoding);
    geometry::normals_to_world(
        normals.data(),
        static_cast<std::size_t>(geometry.data.w()) * static_cast<std::size_t>(geometry.data.h()),
        normals.channel_count(), sources.normal_flip, nullptr);
    // In the node's own convention the normals' z runs against P's.
    if (sources.light_space == LightSpace::node) {
      const NormalFlip z{false, false, true};
      geometry::normals_to_world(
          normals.data(),
          static_cast<std::size_t>(geometry.data.w()) * static_cast<std::size_t>(geometry.data.h()),
          normals.channel_count(), z, nullptr);
    }
    const geometry::Grid3 grid{c.grid.width, c.grid.height, normals.data(), normals.channel_count(), 0, 0};
    c.fit = geometry::fit_camera(c.grid, &grid);
  }
  c.camera = c.fit.camera;
  if (c.camera) c.origin = "fitted to P" + (note.empty() ? std::string() : " (" + note + ")");
  return made;
}

std::unique_ptr<FrameCamera> frame_camera_of(const DD::Image::ImageBuffer& position,
                                             const ImageGeometry& geometry) {
  auto made = std::make_unique<FrameCamera>(geometry.data);
  FrameCamera& c = *made;
  const DD::Image::Box& box = geometry.data;
  const int from[3] = {position.channel_index(DD::Image::Chan_Red),
                       position.channel_index(DD::Image::Chan_Green),
                       position.channel_index(DD::Image::Chan_Blue)};
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x)
      for (int k = 0; k < 3; ++k) c.position.at(x, y, k) = position.at(x, y, from[k]);
  c.grid = geometry::Grid3{box.w(),
                           box.h(),
                           c.position.data(),
                           c.position.channel_count(),
                           box.x() - geometry.display.x(),
                           box.y() - geometry.display.y()};
  c.fit = geometry::fit_camera(c.grid);
  c.camera = c.fit.camera;
  if (c.camera) c.origin = "fitted to P";
  return made;
}

}  // namespace quorlen::hosting

namespace quorlen::hosting {

CameraReport camera_of(const DD::Image::ImageBuffer& position, const ImageGeometry& geometry) {
  const std::unique_ptr<FrameCamera> c = frame_camera_of(position, geometry);
  CameraReport r;
  r.found = c->camera.has_value();
  r.origin = c->origin;
  r.residual = c->fit.residual;
  r.points = c->fit.points;
  r.line = c->describe();
  if (c->camera) {
    r.projection = projection_word(*c->camera);
    r.rows = c->camera->rows;
  }
  return r;
}

}  // namespace quorlen::hosting
