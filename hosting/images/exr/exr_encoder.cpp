/// \file exr_encoder.cpp  Float EXR output through OpenEXR, line blocks in order.
#include "hosting/images/exr/exr_encoder.h"

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfCompression.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIO.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStringAttribute.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "text/strings.h"

namespace quorlen::hosting {
namespace {

// OpenEXR finishes a file in its destructor, which swallows errors; this stream remembers them.
class CheckedStream final : public Imf::OStream {
 public:
  explicit CheckedStream(const std::string& file) : Imf::OStream(file.c_str()), out_(file, std::ios::binary) {
    if (!out_) throw codec_error("cannot create the file");
  }
  void write(const char c[], int n) override {
    if (!out_.write(c, n)) fail();
  }
  std::uint64_t tellp() override { return static_cast<std::uint64_t>(out_.tellp()); }
  void seekp(std::uint64_t pos) override {
    if (!out_.seekp(static_cast<std::streamoff>(pos))) fail();
  }
  /// Flushes and closes; false when anything written was lost.
  bool finish() {
    out_.close();
    return !failed_ && !out_.fail();
  }

 private:
  [[noreturn]] void fail() {
    failed_ = true;
    throw codec_error(std::strerror(errno != 0 ? errno : EIO));
  }
  std::ofstream out_;
  bool failed_ = false;
};

Imf::Compression compression_named(const std::string& name) {
  static const std::pair<const char*, Imf::Compression> known[] = {
      {"none", Imf::NO_COMPRESSION},  {"rle", Imf::RLE_COMPRESSION},   {"zips", Imf::ZIPS_COMPRESSION},
      {"zip", Imf::ZIP_COMPRESSION},  {"piz", Imf::PIZ_COMPRESSION},   {"pxr24", Imf::PXR24_COMPRESSION},
      {"b44", Imf::B44_COMPRESSION},  {"b44a", Imf::B44A_COMPRESSION}, {"dwaa", Imf::DWAA_COMPRESSION},
      {"dwab", Imf::DWAB_COMPRESSION}};
  if (name.empty()) return Imf::ZIP_COMPRESSION;
  for (const auto& [n, c] : known)
    if (name == n) return c;
  throw codec_error("unknown EXR compression \"" + name + "\"");
}

// Attributes that describe the file's own layout, which the output defines for itself.
bool defined_by_output(const std::string& name) {
  static const char* const own[] = {"channels",
                                    "compression",
                                    "dataWindow",
                                    "displayWindow",
                                    "lineOrder",
                                    "tiles",
                                    "type",
                                    "name",
                                    "version",
                                    "chunkCount",
                                    "maxSamplesPerPixel",
                                    "dwaCompressionLevel",
                                    "zipCompressionLevel"};
  return std::any_of(std::begin(own), std::end(own), [&](const char* o) { return name == o; });
}

void copy_attributes(const EncoderSpec& layout, Imf::Header& header) {
  if (!layout.attributes_from.empty()) {
    try {
      Imf::MultiPartInputFile source(layout.attributes_from.c_str());
      if (layout.attributes_part >= 0 && layout.attributes_part < source.parts()) {
        const Imf::Header& from = source.header(layout.attributes_part);
        for (auto it = from.begin(); it != from.end(); ++it)
          if (!defined_by_output(it.name())) header.insert(it.name(), it.attribute());
      }
    } catch (const std::exception&) {
      // Not an EXR file, or unreadable now: the output simply has no copied attributes.
    }
  }
  header.insert("software", Imf::StringAttribute("quorlen"));
}

Imath::Box2i box2i(const DD::Image::Box& b) { return {{b.x(), b.y()}, {b.r() - 1, b.t() - 1}}; }

class ExrEncoder final : public ImageEncoder {
 public:
  ExrEncoder(const std::string& file, const EncoderSpec& layout) : spec_(layout), next_(layout.data.y()) {
    if (layout.eight_bit) throw codec_error("EXR files hold float samples here, not 8-bit codes");
    Imf::Header header(box2i(layout.display), box2i(layout.data));
    if (layout.sixteen_bit) throw codec_error("EXR files hold float samples here, not 16-bit codes");
    copy_attributes(layout, header);
    header.compression() = compression_named(layout.compression);
    for (const auto& name : layout.channels)
      header.channels().insert(name, Imf::Channel(layout.half ? Imf::HALF : Imf::FLOAT));
    stream_ = std::make_unique<CheckedStream>(file);
    out_ = std::make_unique<Imf::OutputFile>(*stream_, header, 0);
  }

  void write(int count, const void* samples) override {
    if (count <= 0) return;
    const auto n = static_cast<std::ptrdiff_t>(spec_.channels.size());
    // OpenEXR does not convert float samples to half channels when writing; the lines are converted here.
    std::vector<Imath::half> halves;
    if (spec_.half) {
      const auto* from = static_cast<const float*>(samples);
      halves.assign(from, from + static_cast<std::ptrdiff_t>(count) * spec_.data.w() * n);
      samples = halves.data();
    }
    const std::size_t sample_size = spec_.half ? sizeof(Imath::half) : sizeof(float);
    const Imf::PixelType type = spec_.half ? Imf::HALF : Imf::FLOAT;
    const std::ptrdiff_t xstride = n * static_cast<std::ptrdiff_t>(sample_size);
    const std::ptrdiff_t ystride = xstride * spec_.data.w();
    // OpenEXR addresses a sample with the window's own coordinates (see the reader).
    const auto origin = reinterpret_cast<std::uintptr_t>(samples) -
                        static_cast<std::uintptr_t>(spec_.data.x()) * static_cast<std::uintptr_t>(xstride) -
                        static_cast<std::uintptr_t>(next_) * static_cast<std::uintptr_t>(ystride);
    Imf::FrameBuffer frame;
    for (std::ptrdiff_t c = 0; c < n; ++c)
      frame.insert(
          spec_.channels[static_cast<std::size_t>(c)],
          Imf::Slice(type, reinterpret_cast<char*>(origin + static_cast<std::uintptr_t>(c) * sample_size),
                     static_cast<std::size_t>(xstride), static_cast<std::size_t>(ystride)));
    try {
      out_->setFrameBuffer(frame);
      out_->writePixels(count);
    } catch (const std::exception& e) {
      throw codec_error(text::one_line(e.what()));
    }
    next_ += count;
  }

  void close() override {
    if (next_ != spec_.data.t()) throw codec_error("the image is incomplete");
    try {
      out_.reset();  // the file is finished by the destructor
    } catch (const std::exception& e) {
      throw codec_error(text::one_line(e.what()));
    }
    if (!stream_->finish()) throw codec_error(std::strerror(errno != 0 ? errno : EIO));
  }

 private:
  EncoderSpec spec_;
  std::unique_ptr<CheckedStream> stream_;  // outlives out_, declared first
  std::unique_ptr<Imf::OutputFile> out_;
  int next_;
};

}  // namespace

bool has_exr_extension(const std::string& path) {
  const std::string ext = text::lower(std::filesystem::path(path).extension().string());
  return ext == ".exr" || ext == ".sxr" || ext == ".mxr";
}

std::unique_ptr<ImageEncoder> create_exr(const std::string& file, const EncoderSpec& layout) {
  try {
    return std::make_unique<ExrEncoder>(file, layout);
  } catch (const codec_error&) {
    throw;
  } catch (const std::exception& e) {
    throw codec_error(text::one_line(e.what()));
  }
}

}  // namespace quorlen::hosting
