/// \file frame_inputs.cpp  Opening a frame's inputs and reading them in bands, the inputs side by side.
#include "hosting/frames/frame_inputs.h"

#include <fmt/format.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>

#include "hosting/colour/display_encoder.h"
#include "hosting/frames/normal_frame.h"
#include "hosting/images/layer_mapping.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Box;
using DD::Image::ImageBuffer;

// The colour input's band to the working space, groups of lines side by side (the band is read already).
void convert_lines(ImageBuffer& image, const SpaceConverter& converter) {
  const Box& box = image.box();
  const auto width = static_cast<std::size_t>(box.w());
  if (image.channel_count() != 3 || width == 0) return;
  tbb::parallel_for(tbb::blocked_range<int>(box.y(), box.t(), std::max(1, 16384 / box.w())),
                    [&](const tbb::blocked_range<int>& lines) {
                      for (int y = lines.begin(); y < lines.end(); ++y) converter.apply(image.line(y), width);
                    });
}

const std::vector<DD::Image::Channel> kRGB{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue};

}  // namespace

// The channel named in full, in whichever part holds it.
LayerReader open_mask(const MaskSource& mask, long long max_pixels) {
  std::optional<ImageFile> opened;
  try {
    opened.emplace(mask.file);
  } catch (const Error& e) {
    throw Error(e.kind(), fmt::format("{}: mask: {}", mask.owner, e.what()));
  }
  ImageFile& file = *opened;
  std::vector<std::string> names;
  for (const LayerInfo& layer : file.layers())
    for (std::size_t c = 0; c < layer.channel_names.size(); ++c) {
      if (layer.channel_names[c] == mask.channel)
        return LayerReader(std::move(file), layer.subimage, layer.channels[c], max_pixels);
      names.push_back(layer.channel_names[c]);
    }
  const std::string near = text::closest_match(mask.channel, names);
  throw input_error(fmt::format("{}: mask \"{}\" has no channel \"{}\" (channels: {}){}", mask.owner,
                                mask.file, text::escape_controls(mask.channel),
                                text::escape_controls(text::join(names)),
                                near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
}

FrameInputs::FrameInputs(const FrameSources& sources, std::vector<std::string>& warnings)
    : max_memory_(sources.max_memory),
      light_space_(sources.light_space),
      normal_encoding_(sources.normal_encoding) {
  if (!sources.inputs[kNormal])
    throw usage_error(
        "no normal input: give --normal FILE[:LAYER], or --passes with a file holding a normal layer");
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& input = sources.inputs[static_cast<std::size_t>(slot)];
    if (!input) continue;
    readers_[static_cast<std::size_t>(slot)].emplace(ImageFile(input->file), input->layer.value_or(""),
                                                     sources.max_pixels);
  }
  if (sources.colour_alpha && sources.inputs[kColor]) {
    ImageFile file(sources.inputs[kColor]->file);
    const LayerInfo& colour = file.layer(sources.inputs[kColor]->layer.value_or(""));
    if (const auto alpha = colour_alpha(file.layers(), colour))
      alpha_reader_.emplace(std::move(file), alpha->subimage, alpha->channel, sources.max_pixels);
  }
  for (const MaskSource& mask : sources.masks) mask_readers_.push_back(open_mask(mask, sources.max_pixels));
  if (const auto& colour = sources.inputs[kColor]) {
    // Only the colour is light; normals and positions are data whatever the config says of their files.
    const auto& reader = *readers_[kColor];
    const InputColourSpace chosen =
        choose_input_colour_space(sources.colour_space, reader.named_colour_space(), colour->file);
    colour_space_ = chosen.space;
    colour_space_origin_ = chosen.origin;
    // Said in reports only: image libraries tag every file of some formats ("sRGB" for PNG), so a config
    // without their generic names would have every such input warned about.
    if (!chosen.unknown_metadata.empty())
      colour_space_origin_ += fmt::format("; the file's \"{}\" is not in the config",
                                          text::escape_controls(chosen.unknown_metadata));
    auto converter = std::make_shared<SpaceConverter>(colour_space_, colour_config().working_space);
    if (!converter->identity()) colour_to_working_ = std::move(converter);
  }
  output_floats_ = std::max(4, sources.output_floats);
  const int reference = readers_[kColor] ? kColor : kNormal;
  geometry_ = readers_[static_cast<std::size_t>(reference)]->geometry();
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& reader = readers_[static_cast<std::size_t>(slot)];
    if (slot == reference || !reader || reader->geometry().data == geometry_.data) continue;
    warnings.push_back(fmt::format(
        "{} input {} covers {}, the {} input {}; it is read where they overlap and is zero elsewhere",
        kInputLabels[static_cast<std::size_t>(slot)], reader->description(),
        describe_box(reader->geometry().data), kInputLabels[static_cast<std::size_t>(reference)],
        describe_box(geometry_.data)));
  }
  // Checked from the headers, before any band exists: a wide image's band can cost gigabytes however few
  // lines it has, and a damaged header can claim such a width.
  frame_bytes_ =
      sources.frame_pixel_bytes * std::max(0, geometry_.data.w()) * std::max(0, geometry_.data.h());
  const long long needed = band_bytes() + block_bytes() + frame_bytes_;
  const auto mib = [](long long bytes) { return (bytes + (1LL << 20) - 1) >> 20; };
  if (frame_bytes_ > 0 && needed > max_memory_)
    throw usage_error(fmt::format(
        "shadows and spots hold the whole frame's P and depths ({} MiB for {}), which with the bands needs "
        "about {} MiB, more than the limit of {} MiB; raise --max-memory",
        mib(frame_bytes_), describe_box(geometry_.data), mib(needed), mib(max_memory_)));
  if (needed > max_memory_) {
    const auto& widest =
        *std::max_element(readers_.begin(), readers_.end(), [](const auto& a, const auto& b) {
          return (a ? a->geometry().data.w() : 0) < (b ? b->geometry().data.w() : 0);
        });
    throw usage_error(fmt::format(
        "\"{}\" is {} pixels wide: streaming it needs about {} MiB, more than the limit of {} MiB; raise "
        "--max-memory if the file is genuine",
        widest->path(), widest->geometry().data.w(), mib(needed), mib(max_memory_)));
  }
}

void FrameInputs::note_signs(const ImageBuffer& image) {
  if (normal_negative_) return;
  const int n = image.channel_count();
  const std::size_t pixels =
      static_cast<std::size_t>(image.box().w()) * static_cast<std::size_t>(image.box().h());
  const float* p = image.data();
  for (std::size_t i = 0; i < pixels; ++i, p += n) {
    float length2 = 0.0f;
    for (int c = 0; c < n; ++c) {
      normal_negative_ = normal_negative_ || p[c] < 0.0f;
      length2 += p[c] * p[c];
    }
    // Rendered normals are of unit length; 0.5 n + 0.5 mostly is not (a flat map's 0.5, 0.5, 1 is 1.22).
    normal_off_unit_ = normal_off_unit_ || (length2 != 0.0f && std::abs(length2 - 1.0f) > 0.02f);
  }
}

void FrameInputs::set_normal_frame(const NormalFlip& flip,
                                   const std::optional<std::array<std::array<double, 3>, 3>>& axes) {
  normal_flip_ = flip;
  normal_axes_ = axes;
}

std::optional<std::string> FrameInputs::describe_alpha() const {
  if (!alpha_reader_) return std::nullopt;
  return fmt::format("{} ({})", alpha_reader_->path(),
                     text::escape_controls(alpha_reader_->component_names()[0]));
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
  const long long line_bytes = static_cast<long long>(std::max(1, geometry_.data.w())) * 3 *
                               static_cast<long long>(sizeof(float)) * kInputCount;
  // A wide image's band shrinks to a single block of lines rather than staying at a fixed minimum: a
  // fixed 32 lines of a 1M-pixel-wide image would be gigabytes.
  const long long target = std::clamp(kBandBytes / line_bytes, 1LL, 4096LL);
  const long long lines = (target + chunk - 1) / chunk * chunk;
  return static_cast<int>(std::min<long long>(lines, std::max(1, geometry_.data.h())));
}

long long FrameInputs::band_bytes() const {
  int planes = 1;  // the colour is always read, black when unconnected
  for (int slot = 0; slot < kInputCount; ++slot)
    if (slot != kColor && readers_[static_cast<std::size_t>(slot)]) ++planes;
  if (alpha_reader_) ++planes;
  planes += static_cast<int>(mask_readers_.size());
  const long long floats = 3LL * planes + output_floats_;
  return static_cast<long long>(band_lines()) * std::max(1, geometry_.data.w()) * floats *
         static_cast<long long>(sizeof(float));
}

long long FrameInputs::block_bytes() const {
  long long bytes = alpha_reader_ ? alpha_reader_->block_bytes() : 0;
  for (const auto& reader : readers_)
    if (reader) bytes += reader->block_bytes();
  for (const auto& reader : mask_readers_) bytes += reader.block_bytes();
  return bytes;
}

int FrameInputs::bands_in_flight(int wanted) const {
  const long long room = (max_memory_ - block_bytes() - frame_bytes_) / std::max(1LL, band_bytes());
  return static_cast<int>(std::clamp<long long>(room, 1, std::max(1, wanted)));
}

std::string FrameInputs::describe_colour_spaces() const {
  const std::string data = "normal, P, noiseP are data";
  if (colour_space_.empty()) return data;
  return fmt::format("color {} ({}){}; {}", colour_space_, colour_space_origin_,
                     colour_to_working_ ? " to " + colour_config().working_space : ", not converted", data);
}

BandInputs FrameInputs::read_band(int y0, int y1) {
  const Box& data = geometry_.data;
  BandInputs band;
  band.box = Box(data.x(), std::max(y0, data.y()), data.r(), std::min(y1, data.t()));
  band.masks.resize(mask_readers_.size());
  // Each input has its own reader, so the files are decoded side by side.
  const int masks = static_cast<int>(mask_readers_.size());
  tbb::parallel_for(0, kInputCount + 1 + masks, [&](int slot) {
    if (slot > kInputCount) {
      const auto index = static_cast<std::size_t>(slot - kInputCount - 1);
      auto mask = std::make_shared<ImageBuffer>(band.box, kRGB);
      mask_readers_[index].read_into(*mask);
      band.masks[index] = std::move(mask);
      return;
    }
    if (slot == kInputCount) {
      if (!alpha_reader_) return;
      auto alpha = std::make_shared<ImageBuffer>(band.box, kRGB);
      alpha_reader_->read_into(*alpha);
      band.alpha = std::move(alpha);
      return;
    }
    auto& reader = readers_[static_cast<std::size_t>(slot)];
    if (!reader && slot != kColor) return;
    auto image = std::make_shared<ImageBuffer>(band.box, kRGB);
    if (reader) reader->read_into(*image);
    if (slot == kColor && colour_to_working_) convert_lines(*image, *colour_to_working_);
    if (slot == kNormal) {
      note_signs(*image);
      const Box area = reader->geometry().data.intersected(band.box);
      read_normals(*image, area, light_space_, normal_encoding_, normal_flip_, normal_axes_);
    }
    band.images[static_cast<std::size_t>(slot)] = std::move(image);
  });
  return band;
}

}  // namespace quorlen::hosting
