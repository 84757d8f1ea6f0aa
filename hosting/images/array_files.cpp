/// \file array_files.cpp  Files read and written whole, for front ends that keep pixels in arrays.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/images.h>

#include "hosting/images/codecs.h"
#include "hosting/images/image_file.h"
#include "hosting/images/image_writer.h"
#include "hosting/system/atomic_file.h"

namespace quorlen::hosting {

DD::Image::ImageBuffer read_layer(const std::string& path, const std::string& layer, long long max_pixels) {
  LayerReader reader(ImageFile(path), layer, max_pixels);
  DD::Image::ImageBuffer image(reader.geometry().data,
                               {DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue});
  reader.read_into(image);
  return image;
}

std::vector<std::string> layer_names(const std::string& path) {
  std::vector<std::string> out;
  const ImageFile file(path);
  for (const auto& layer : file.layers()) out.push_back(layer.name);
  return out;
}

namespace {

void write_whole(const std::string& path, const EncoderSpec& layout, int lines, const void* samples) {
  check_output_path(path);
  AtomicFile file(path);
  try {
    auto out = create_image(path, file.temp_path(), layout);
    out->write(lines, samples);
    out->close();
  } catch (const codec_error& e) {
    throw output_error(fmt::format("cannot write \"{}\": {}", path, e.what()));
  }
  file.commit();
}

}  // namespace

void write_channels(const std::string& path, const ImageGeometry& geometry,
                    const std::vector<std::string>& channels, const std::vector<float>& samples) {
  const std::size_t expected = static_cast<std::size_t>(geometry.data.w()) *
                               static_cast<std::size_t>(geometry.data.h()) * channels.size();
  if (samples.size() != expected)
    throw usage_error(fmt::format("cannot write \"{}\": {} samples given for {} channels of {}", path,
                                  samples.size(), channels.size(), describe_box(geometry.data)));
  EncoderSpec layout;
  layout.data = geometry.data;
  layout.display = geometry.display;
  layout.channels = channels;
  write_whole(path, layout, geometry.data.h(), samples.data());
}

void write_preview(const std::string& path, const Preview& preview) {
  if (preview.rgb.size() !=
      static_cast<std::size_t>(preview.width) * static_cast<std::size_t>(preview.height) * 3)
    throw usage_error(fmt::format("cannot write \"{}\": the preview's codes do not fill it", path));
  if (plan_output(path).encoding != OutputEncoding::srgb8_rgb)
    throw usage_error(
        fmt::format("cannot write \"{}\": previews are written in 8-bit formats such as PNG", path));
  write_whole(path, rgb8_layout(preview.width, preview.height), preview.height, preview.rgb.data());
}

}  // namespace quorlen::hosting
