/// \file image_writer.cpp  Writing rendered lines: float for data formats, sRGB 8-bit for previews.
#include "hosting/images/image_writer.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "hosting/colour/display_encoder.h"
#include "hosting/images/codecs.h"
#include "hosting/images/srgb.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Chan_Alpha;
using DD::Image::Chan_Blue;
using DD::Image::Chan_Green;
using DD::Image::Chan_Red;

EncoderSpec spec_for(const OutputPlan& plan, const ImageGeometry& g) {
  EncoderSpec encoder;
  encoder.data = g.data;
  encoder.display = g.display;
  const bool rgba = plan.encoding == OutputEncoding::float_rgba;
  encoder.channels =
      rgba ? std::vector<std::string>{"R", "G", "B", "A"} : std::vector<std::string>{"R", "G", "B"};
  const bool codes = plan.encoding == OutputEncoding::srgb8_rgb;
  encoder.eight_bit = codes && plan.type != DataType::uint16;
  encoder.sixteen_bit = codes && plan.type == DataType::uint16;
  encoder.half = plan.type == DataType::half;
  encoder.srgb = codes;
  if (!codes) encoder.colour_space = plan.colour_space;
  encoder.compression = plan.compression;
  encoder.attributes_from = plan.attributes_from;
  encoder.attributes_part = plan.attributes_part;
  encoder.fast = plan.fast;
  for (const auto& layer : plan.layers)
    for (const char* c : {".R", ".G", ".B"}) encoder.channels.push_back(layer + c);
  // Formats that hold a data window keep the colour input's windows.
  encoder.keep_windows = rgba;
  return encoder;
}

}  // namespace

OutputPlan plan_output(const std::string& path, const OutputOptions& options) {
  std::string format;
  try {
    format = output_format(path);
  } catch (const codec_error& e) {
    throw usage_error(fmt::format("cannot write \"{}\": {}", path, e.what()));
  }
  if (format.empty())
    throw usage_error(fmt::format("cannot write \"{}\": no image format is known for its extension", path));
  OutputPlan plan;
  plan.path = path;
  plan.format_name = format;
  plan.encoding = OutputEncoding::srgb8_rgb;
  plan.type = checked_type(path, format, options);
  const bool floats = plan.type == DataType::float32 || plan.type == DataType::half;
  if (floats && (plan.format_name == "openexr" || plan.format_name == "tiff"))
    plan.encoding = OutputEncoding::float_rgba;
  else if (plan.format_name == "hdr")
    plan.encoding = OutputEncoding::float_rgb;
  if (plan.format_name == "openexr") plan.compression = text::lower(options.compression.value_or("zip"));
  if (plan.encoding == OutputEncoding::srgb8_rgb)
    plan.display = resolve_display_view(options.display, options.view, options.look);
  else
    plan.colour_space = options.colour_space
                            ? colour_space_named(*options.colour_space, "--output-colorspace")
                            : colour_config().working_space;
  return plan;
}

std::string describe(const OutputPlan& plan) {
  switch (plan.encoding) {
    case OutputEncoding::float_rgba:
      return fmt::format("{} RGBA, {} ({}{}{})", plan.type == DataType::half ? "16-bit half" : "32-bit float",
                         plan.colour_space, plan.format_name, plan.compression.empty() ? "" : ", ",
                         plan.compression);
    case OutputEncoding::float_rgb:
      return fmt::format("32-bit float RGB, {} ({})", plan.colour_space, plan.format_name);
    case OutputEncoding::srgb8_rgb:
      return fmt::format("{}-bit RGB, display \"{}\" view \"{}\"{} ({})",
                         plan.type == DataType::uint16 ? 16 : 8, plan.display.display, plan.display.view,
                         plan.display.look.empty() ? "" : fmt::format(" look \"{}\"", plan.display.look),
                         plan.format_name);
  }
  return plan.format_name;
}

ImageWriter::ImageWriter(const OutputPlan& plan, const ImageGeometry& geometry)
    : plan_(plan), geometry_(geometry), file_(plan.path), next_line_(geometry.data.y()) {
  if (plan_.encoding == OutputEncoding::srgb8_rgb)
    display_ = std::make_unique<DisplayEncoder>(
        plan_.display.display.empty() ? resolve_display_view({}, {}, {}) : plan_.display);
  else if (!plan_.colour_space.empty() && plan_.colour_space != colour_config().working_space)
    output_space_ = std::make_unique<SpaceConverter>(colour_config().working_space, plan_.colour_space);
  try {
    out_ = create_image(plan_.path, file_.temp_path(), spec_for(plan_, geometry_));
  } catch (const codec_error& e) {
    throw output_error(fmt::format("cannot write \"{}\": {}", plan_.path, e.what()));
  }
}

// An unfinished file is closed (out_ goes first) before the AtomicFile member removes it.
ImageWriter::~ImageWriter() = default;

void ImageWriter::write_lines(const DD::Image::ImageBuffer& rgba,
                              const std::vector<std::shared_ptr<DD::Image::ImageBuffer>>& layers) {
  if (plan_.layers.empty()) return write_lines(rgba);
  const DD::Image::Box& box = rgba.box();
  if (layers.size() != plan_.layers.size() || box.y() != next_line_ || box.x() != geometry_.data.x() ||
      box.w() != geometry_.data.w())
    throw output_error(fmt::format("cannot write \"{}\": lines handed over out of order", plan_.path));
  const std::size_t pixels = static_cast<std::size_t>(box.w()) * static_cast<std::size_t>(box.h());
  const std::size_t per_pixel = 4 + 3 * layers.size();
  std::vector<float> floats(pixels * per_pixel);
  const auto gather = [&](const DD::Image::ImageBuffer& from, std::size_t offset, int count) {
    const int n = from.channel_count();
    const int order[4] = {from.channel_index(Chan_Red), from.channel_index(Chan_Green),
                          from.channel_index(Chan_Blue), from.channel_index(DD::Image::Chan_Alpha)};
    const float* src = from.data();
    for (std::size_t i = 0; i < pixels; ++i, src += n)
      for (int k = 0; k < count; ++k)
        floats[i * per_pixel + offset + static_cast<std::size_t>(k)] = src[order[k]];
  };
  gather(rgba, 0, 4);
  for (std::size_t l = 0; l < layers.size(); ++l) gather(*layers[l], 4 + 3 * l, 3);
  // The layers as the beauty: the conversion is linear, so the converted layers still add up to it.
  if (output_space_) {
    const int stride = static_cast<int>(per_pixel);
    output_space_->apply(floats.data(), pixels, 4, stride);
    for (std::size_t l = 0; l < layers.size(); ++l)
      output_space_->apply(floats.data() + 4 + 3 * l, pixels, 3, stride);
  }
  for (std::size_t i = 0; i < pixels; ++i) {
    const float* p = floats.data() + i * per_pixel;
    non_finite_ +=
        !(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]) && std::isfinite(p[3]));
  }
  try {
    out_->write(box.h(), floats.data());
  } catch (const codec_error& e) {
    throw output_error(fmt::format("cannot write \"{}\": {}", plan_.path, e.what()));
  }
  next_line_ = box.t();
}

void ImageWriter::write_lines(const DD::Image::ImageBuffer& rgba) {
  const DD::Image::Box& box = rgba.box();
  if (box.empty()) return;
  const int n = rgba.channel_count();
  const int r = rgba.channel_index(Chan_Red), g = rgba.channel_index(Chan_Green);
  const int b = rgba.channel_index(Chan_Blue), a = rgba.channel_index(Chan_Alpha);
  if (box.y() != next_line_ || box.x() != geometry_.data.x() || box.w() != geometry_.data.w() || r < 0 ||
      g < 0 || b < 0 || a < 0)
    throw output_error(fmt::format("cannot write \"{}\": lines handed over out of order", plan_.path));

  const std::size_t pixels = static_cast<std::size_t>(box.w()) * static_cast<std::size_t>(box.h());
  const float* p = rgba.data();
  for (std::size_t i = 0; i < pixels; ++i, p += n)
    non_finite_ +=
        !(std::isfinite(p[r]) && std::isfinite(p[g]) && std::isfinite(p[b]) && std::isfinite(p[a]));
  try {
    if (plan_.encoding == OutputEncoding::srgb8_rgb && plan_.type == DataType::uint16) {
      std::vector<std::uint16_t> codes(pixels * 3);
      display_->codes16(rgba.data(), pixels, n, r, g, b, codes.data());
      out_->write(box.h(), codes.data());
    } else if (plan_.encoding == OutputEncoding::srgb8_rgb) {
      std::vector<std::uint8_t> bytes(pixels * 3);
      display_->codes8(rgba.data(), pixels, n, r, g, b, bytes.data());
      out_->write(box.h(), bytes.data());
    } else if (plan_.encoding == OutputEncoding::float_rgba && n == 4 && r == 0 && g == 1 && b == 2 &&
               a == 3 && !output_space_) {
      out_->write(box.h(), rgba.data());
    } else {
      const int count = plan_.encoding == OutputEncoding::float_rgba ? 4 : 3;
      std::vector<float> floats(pixels * static_cast<std::size_t>(count));
      const float* src = rgba.data();
      const int order[4] = {r, g, b, a};
      for (std::size_t i = 0; i < pixels; ++i, src += n)
        for (int k = 0; k < count; ++k)
          floats[i * static_cast<std::size_t>(count) + static_cast<std::size_t>(k)] = src[order[k]];
      if (output_space_) output_space_->apply(floats.data(), pixels, count);
      out_->write(box.h(), floats.data());
    }
  } catch (const codec_error& e) {
    throw output_error(fmt::format("cannot write \"{}\": {}", plan_.path, e.what()));
  }
  next_line_ = box.t();
}

void ImageWriter::commit() {
  if (next_line_ != geometry_.data.t())
    throw output_error(fmt::format("cannot write \"{}\": the image is incomplete", plan_.path));
  try {
    out_->close();
  } catch (const codec_error& e) {
    out_.reset();
    throw output_error(fmt::format("cannot write \"{}\": {}", plan_.path, e.what()));
  }
  out_.reset();
  file_.commit();
}

void write_image(const std::string& path, const ImageGeometry& geometry, const DD::Image::ImageBuffer& rgba) {
  write_image(path, geometry, rgba, OutputOptions{});
}

void write_image(const std::string& path, const ImageGeometry& geometry, const DD::Image::ImageBuffer& rgba,
                 const OutputOptions& options) {
  ImageWriter writer(plan_output(path, options), geometry);
  writer.write_lines(rgba);
  writer.commit();
}

EncoderSpec rgb8_layout(int width, int height) {
  EncoderSpec layout;
  layout.data = layout.display = DD::Image::Box(0, 0, width, height);
  layout.channels = {"R", "G", "B"};
  layout.eight_bit = true;
  layout.srgb = true;
  layout.keep_windows = false;
  return layout;
}

void check_output_path(const std::string& path, const OutputOptions& options) { plan_output(path, options); }

}  // namespace quorlen::hosting
