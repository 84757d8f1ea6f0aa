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
#include <OpenEXR/ImfVersion.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "hosting/images/exr/zip_chunks.h"
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
  // After the copy, so that the colour input's own space is not claimed for the relit samples.
  if (!layout.colour_space.empty())
    header.insert("oiio:ColorSpace", Imf::StringAttribute(layout.colour_space));
}

Imath::Box2i box2i(const DD::Image::Box& b) { return {{b.x(), b.y()}, {b.r() - 1, b.t() - 1}}; }

Imf::Header output_header(const EncoderSpec& layout) {
  if (layout.eight_bit) throw codec_error("EXR files hold float samples here, not 8-bit codes");
  if (layout.sixteen_bit) throw codec_error("EXR files hold float samples here, not 16-bit codes");
  Imf::Header header(box2i(layout.display), box2i(layout.data));
  copy_attributes(layout, header);
  header.compression() = compression_named(layout.compression);
  for (const auto& name : layout.channels)
    header.channels().insert(name, Imf::Channel(layout.half ? Imf::HALF : Imf::FLOAT));
  return header;
}

// Lines through OpenEXR's own encoder.
class OpenExrEncoder final : public ImageEncoder {
 public:
  OpenExrEncoder(const std::string& file, const EncoderSpec& layout, const Imf::Header& header)
      : spec_(layout), next_(layout.data.y()) {
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

// Names longer than 31 bytes need the version field's long-names flag.
bool uses_long_names(const Imf::Header& header) {
  for (auto it = header.begin(); it != header.end(); ++it)
    if (std::strlen(it.name()) > 31 || std::strlen(it.attribute().typeName()) > 31) return true;
  for (auto c = header.channels().begin(); c != header.channels().end(); ++c)
    if (std::strlen(c.name()) > 31) return true;
  return false;
}

void put_le32(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put_le64(std::uint8_t* at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// ZIP and ZIPS files laid out here (magic and version, OpenEXR's own header, the chunk offset table, then
// each chunk's first line, size and bytes), the chunks deflated by libdeflate in parallel.
class ZipExrEncoder final : public ImageEncoder {
 public:
  ZipExrEncoder(const std::string& file, const EncoderSpec& layout, const Imf::Header& header)
      : spec_(layout),
        lines_per_chunk_(header.compression() == Imf::ZIP_COMPRESSION ? 16 : 1),
        width_(static_cast<std::size_t>(layout.data.w())),
        sample_size_(layout.half ? 2 : 4),
        next_(layout.data.y()) {
    header.sanityCheck(false);
    // The file stores channels in name order; each takes its samples from its place in a pixel.
    for (auto c = header.channels().begin(); c != header.channels().end(); ++c) {
      const auto at = std::find(layout.channels.begin(), layout.channels.end(), c.name());
      sources_.push_back(static_cast<std::size_t>(at - layout.channels.begin()));
    }
    line_bytes_ = width_ * sources_.size() * sample_size_;
    const int height = layout.data.h();
    offsets_.assign(static_cast<std::size_t>((height + lines_per_chunk_ - 1) / lines_per_chunk_), 0);

    stream_ = std::make_unique<CheckedStream>(file);
    std::uint8_t start[8];
    put_le32(start, static_cast<std::uint32_t>(Imf::MAGIC));
    put_le32(start + 4,
             static_cast<std::uint32_t>(Imf::EXR_VERSION) |
                 (uses_long_names(header) ? static_cast<std::uint32_t>(Imf::LONG_NAMES_FLAG) : 0u));
    stream_->write(reinterpret_cast<const char*>(start), 8);
    header.writeTo(*stream_, false);
    table_at_ = stream_->tellp();
    const std::vector<char> table(offsets_.size() * 8, 0);
    stream_->write(table.data(), static_cast<int>(table.size()));
  }

  void write(int count, const void* samples) override {
    if (count <= 0) return;
    if (count > spec_.data.t() - next_) throw codec_error("more lines than the image holds");
    const auto* from = static_cast<const float*>(samples);
    const std::size_t pixel = spec_.channels.size();
    const std::size_t kept = pending_.size();
    pending_.resize(kept + static_cast<std::size_t>(count) * line_bytes_);
    // Interleaved float pixels become each line's channels one after another, as stored.
    tbb::parallel_for(0, count, [&](int y) {
      std::uint8_t* line = pending_.data() + kept + static_cast<std::size_t>(y) * line_bytes_;
      const float* in_line = from + static_cast<std::size_t>(y) * width_ * pixel;
      for (std::size_t c = 0; c < sources_.size(); ++c) {
        const float* in = in_line + sources_[c];
        std::uint8_t* out = line + c * width_ * sample_size_;
        if (spec_.half) {
          for (std::size_t x = 0; x < width_; ++x, in += pixel, out += 2) {
            const std::uint16_t bits = Imath::half(*in).bits();
            std::memcpy(out, &bits, 2);
          }
        } else {
          for (std::size_t x = 0; x < width_; ++x, in += pixel, out += 4) std::memcpy(out, in, 4);
        }
      }
    });
    next_ += count;
    const bool last = next_ == spec_.data.t();
    const std::size_t chunk_bytes = static_cast<std::size_t>(lines_per_chunk_) * line_bytes_;
    const std::size_t whole =
        last ? (pending_.size() + chunk_bytes - 1) / chunk_bytes : pending_.size() / chunk_bytes;
    if (whole == 0) return;

    packed_.resize(whole);
    tbb::parallel_for(std::size_t{0}, whole, [&](std::size_t k) {
      const std::size_t begin = k * chunk_bytes;
      const std::size_t size = std::min(chunk_bytes, pending_.size() - begin);
      packers_.local().pack_into(pending_.data() + begin, size, packed_[k]);
    });
    for (std::size_t k = 0; k < whole; ++k) {
      offsets_[chunk_] = stream_->tellp();
      std::uint8_t head[8];
      put_le32(head,
               static_cast<std::uint32_t>(spec_.data.y() + static_cast<int>(chunk_) * lines_per_chunk_));
      put_le32(head + 4, static_cast<std::uint32_t>(packed_[k].size()));
      stream_->write(reinterpret_cast<const char*>(head), 8);
      stream_->write(reinterpret_cast<const char*>(packed_[k].data()), static_cast<int>(packed_[k].size()));
      ++chunk_;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(
                                                            std::min(pending_.size(), whole * chunk_bytes)));
  }

  void close() override {
    if (next_ != spec_.data.t() || chunk_ != offsets_.size()) throw codec_error("the image is incomplete");
    std::vector<std::uint8_t> table(offsets_.size() * 8);
    for (std::size_t k = 0; k < offsets_.size(); ++k) put_le64(table.data() + 8 * k, offsets_[k]);
    stream_->seekp(table_at_);
    stream_->write(reinterpret_cast<const char*>(table.data()), static_cast<int>(table.size()));
    if (!stream_->finish()) throw codec_error(std::strerror(errno != 0 ? errno : EIO));
  }

 private:
  EncoderSpec spec_;
  int lines_per_chunk_;
  std::size_t width_;
  std::size_t sample_size_;
  std::size_t line_bytes_ = 0;
  std::vector<std::size_t> sources_;  // per stored channel, its place in a pixel
  std::unique_ptr<CheckedStream> stream_;
  std::uint64_t table_at_ = 0;
  std::vector<std::uint64_t> offsets_;
  std::size_t chunk_ = 0;  // chunks written
  int next_;
  std::vector<std::uint8_t> pending_;  // unpacked lines not yet a whole chunk
  std::vector<std::vector<std::uint8_t>> packed_;
  tbb::enumerable_thread_specific<ZipPacker> packers_;
};

}  // namespace

bool has_exr_extension(const std::string& path) {
  const std::string ext = text::lower(std::filesystem::path(path).extension().string());
  return ext == ".exr" || ext == ".sxr" || ext == ".mxr";
}

std::unique_ptr<ImageEncoder> create_exr(const std::string& file, const EncoderSpec& layout,
                                         ZipEncoding zip) {
  try {
    const Imf::Header header = output_header(layout);
    const bool zip_compressed =
        header.compression() == Imf::ZIP_COMPRESSION || header.compression() == Imf::ZIPS_COMPRESSION;
    if (zip == ZipEncoding::libdeflate && zip_compressed)
      return std::make_unique<ZipExrEncoder>(file, layout, header);
    return std::make_unique<OpenExrEncoder>(file, layout, header);
  } catch (const codec_error&) {
    throw;
  } catch (const std::exception& e) {
    throw codec_error(text::one_line(e.what()));
  }
}

}  // namespace quorlen::hosting
