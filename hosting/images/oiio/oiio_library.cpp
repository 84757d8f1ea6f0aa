/// \file oiio_library.cpp  The image library module: every format OpenImageIO knows, behind the command's
/// own codec interface. Only the entry point is exported.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "hosting/images/image_codec.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

// OpenImageIO keeps its last error per thread and per object; both are drained so a later message is not
// stale.
template <class Object>
std::string error_of(Object* object) {
  std::string message = object ? object->geterror() : std::string();
  const std::string global = OIIO::geterror();
  return text::one_line(message.empty() ? global : message);
}

// The library reports a file's camera as 4 x 4 float matrices.
std::optional<std::array<double, 16>> matrix_attribute(const OIIO::ImageSpec& image, const char* name) {
  const OIIO::ParamValue* p = image.find_attribute(name, OIIO::TypeMatrix44, false);
  if (!p) return std::nullopt;
  std::array<double, 16> m{};
  const auto* v = static_cast<const float*>(p->data());
  for (std::size_t k = 0; k < 16; ++k) m[k] = v[k];
  return m;
}

class OiioDecoder final : public ImageDecoder {
 public:
  explicit OiioDecoder(std::unique_ptr<OIIO::ImageInput> input) : input_(std::move(input)) {
    for (int s = 0; input_->seek_subimage(s, 0); ++s) {
      const OIIO::ImageSpec& header = input_->spec();
      PartHeader part;
      part.name = header.get_string_attribute("oiio:subimagename");
      part.channels = header.channelnames;
      part.data = {header.x, header.y, header.x + header.width, header.y + header.height};
      part.display = {header.full_x, header.full_y, header.full_x + header.full_width,
                      header.full_y + header.full_height};
      part.tile_width = header.tile_width;
      part.tile_height = header.tile_width > 0 ? std::max(1, header.tile_height) : 0;
      part.deep = header.deep;
      part.depth = header.depth;
      part.colour_space = header.get_string_attribute("oiio:ColorSpace");
      if (part.colour_space.empty())
        if (const OIIO::ParamValue* named = header.find_attribute("colorspace", OIIO::TypeString, false))
          part.colour_space = named->get_string();
      part.world_to_camera = matrix_attribute(header, "worldToCamera");
      part.world_to_ndc = matrix_attribute(header, "worldToNDC");
      parts_.push_back(std::move(part));
    }
    input_->geterror();  // seeking past the last part leaves an error behind
  }

  std::string format_name() const override { return input_->format_name(); }
  const std::vector<PartHeader>& parts() const override { return parts_; }

  void read(int part, int y_begin, int y_end, int ch_begin, int ch_end, float* dst, std::ptrdiff_t xstride,
            std::ptrdiff_t ystride) override {
    const PartHeader& p = parts_.at(static_cast<std::size_t>(part));
    if (y_begin >= y_end || ch_begin >= ch_end) return;
    const bool ok = p.tile_width > 0
                        ? input_->read_tiles(part, 0, p.data.x(), p.data.r(), y_begin, y_end, 0, 1, ch_begin,
                                             ch_end, OIIO::TypeFloat, dst, xstride, ystride)
                        : input_->read_scanlines(part, 0, y_begin, y_end, 0, ch_begin, ch_end,
                                                 OIIO::TypeFloat, dst, xstride, ystride);
    if (!ok) throw codec_error(error_of(input_.get()));
  }

 private:
  std::unique_ptr<OIIO::ImageInput> input_;
  std::vector<PartHeader> parts_;
};

// The source's metadata, except what describes its own layout, which the output defines for itself.
void copy_attributes(const EncoderSpec& spec, OIIO::ImageSpec& layout) {
  if (spec.attributes_from.empty()) return;
  auto source = OIIO::ImageInput::open(spec.attributes_from);
  if (!source) {
    OIIO::geterror();
    return;
  }
  const OIIO::ImageSpec from = source->spec(spec.attributes_part, 0);
  for (const auto& attribute : from.extra_attribs) {
    const std::string name = attribute.name().string();
    const std::string lower = text::lower(name);
    if (lower.rfind("oiio:", 0) == 0 || lower.rfind("tiff:", 0) == 0 || lower.rfind("openexr:", 0) == 0 ||
        lower == "compression" || lower == "planarconfig" || lower == "orientation" ||
        lower.find("lineorder") != std::string::npos)
      continue;
    layout.attribute(name, attribute.type(), attribute.data());
  }
}

OIIO::TypeDesc stored_type(const EncoderSpec& spec) {
  if (spec.eight_bit) return OIIO::TypeUInt8;
  if (spec.sixteen_bit) return OIIO::TypeUInt16;
  return spec.half ? OIIO::TypeHalf : OIIO::TypeFloat;
}

class OiioEncoder final : public ImageEncoder {
 public:
  OiioEncoder(const std::string& path, const std::string& file, const EncoderSpec& wanted)
      : spec_(wanted), next_(wanted.keep_windows ? wanted.data.y() : 0) {
    out_ = OIIO::ImageOutput::create(path);
    if (!out_) throw codec_error(error_of<OIIO::ImageOutput>(nullptr));
    const int n = static_cast<int>(wanted.channels.size());
    OIIO::ImageSpec layout(wanted.data.w(), wanted.data.h(), n, stored_type(wanted));
    layout.channelnames = wanted.channels;
    const auto alpha = std::find(wanted.channels.begin(), wanted.channels.end(), "A");
    layout.alpha_channel =
        alpha == wanted.channels.end() ? -1 : static_cast<int>(alpha - wanted.channels.begin());
    if (wanted.keep_windows) {
      layout.x = wanted.data.x();
      layout.y = wanted.data.y();
      layout.full_x = wanted.display.x();
      layout.full_y = wanted.display.y();
      layout.full_width = wanted.display.w();
      layout.full_height = wanted.display.h();
      layout.attribute("compression", "zip");
    }
    layout.attribute("oiio:ColorSpace", wanted.srgb ? "sRGB" : "Linear");
    if (wanted.half) layout.attribute("tiff:half", 1);  // TIFF stores half as float unless asked
    if (wanted.keep_windows) copy_attributes(wanted, layout);
    layout.attribute("Software", "quorlen");
    if (!wanted.srgb && !wanted.colour_space.empty())
      layout.attribute("oiio:ColorSpace", wanted.colour_space);
    if (wanted.fast) {
      layout.attribute("png:compressionLevel", 1);
      layout.attribute("png:filter", 8);  // PNG_FILTER_NONE
    }
    if (wanted.memory) {
      memory_ = std::make_unique<OIIO::Filesystem::IOVecOutput>(*wanted.memory);
      if (!out_->supports("ioproxy") || !out_->set_ioproxy(memory_.get()))
        throw codec_error("this format cannot be written to memory");
    }
    if (!out_->open(file, layout)) throw codec_error(error_of(out_.get()));
  }

  ~OiioEncoder() override {
    if (out_) out_->close();
  }

  void write(int count, const void* samples) override {
    if (count <= 0) return;
    const OIIO::TypeDesc given = spec_.eight_bit     ? OIIO::TypeUInt8
                                 : spec_.sixteen_bit ? OIIO::TypeUInt16
                                                     : OIIO::TypeFloat;
    if (!out_->write_scanlines(next_, next_ + count, 0, given, samples))
      throw codec_error(error_of(out_.get()));
    next_ += count;
  }

  void close() override {
    const bool ok = out_->close();
    const std::string error = ok ? std::string() : error_of(out_.get());
    out_.reset();
    if (!ok) throw codec_error(error);
  }

 private:
  EncoderSpec spec_;
  std::unique_ptr<OIIO::Filesystem::IOVecOutput> memory_;  // outlives out_, which writes through it
  std::unique_ptr<OIIO::ImageOutput> out_;
  int next_;
};

class OiioLibrary final : public ImageLibrary {
 public:
  std::unique_ptr<ImageDecoder> open(const std::string& path) const override {
    auto input = OIIO::ImageInput::open(path);
    if (!input) throw codec_error(error_of<OIIO::ImageInput>(nullptr));
    return std::make_unique<OiioDecoder>(std::move(input));
  }

  std::string writer_format(const std::string& path) const override {
    auto writer = OIIO::ImageOutput::create(path);
    if (!writer) {
      OIIO::geterror();
      return {};
    }
    return writer->format_name();
  }

  std::unique_ptr<ImageEncoder> create(const std::string& path, const std::string& file,
                                       const EncoderSpec& spec) const override {
    return std::make_unique<OiioEncoder>(path, file, spec);
  }

  void set_threads(int threads) const override { OIIO::attribute("threads", threads); }
};

}  // namespace
}  // namespace quorlen::hosting

extern "C" __attribute__((visibility("default"))) const quorlen::hosting::ImageLibrary*
quorlen_image_library() {
  static const quorlen::hosting::OiioLibrary library;
  return &library;
}
