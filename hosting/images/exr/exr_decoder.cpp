/// \file exr_decoder.cpp  EXR parts read through OpenEXR's multi-part interface, in the caller's thread.
#include "hosting/images/exr/exr_decoder.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputPart.h>
#include <OpenEXR/ImfMatrixAttribute.h>
#include <OpenEXR/ImfMultiPartInputFile.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfTiledInputPart.h>
#include <fmt/format.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <new>

#include "hosting/images/declared_lengths.h"
#include "hosting/images/exr/zip_part_reader.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

std::string layer_of(const std::string& channel) { return std::string(text::before_last_dot(channel)); }

int colour_rank(const std::string& channel) {
  const std::string s = text::lower(text::last_word(channel));
  static const std::array<std::array<const char*, 2>, 4> ranks = {
      {{"r", "red"}, {"g", "green"}, {"b", "blue"}, {"a", "alpha"}}};
  for (std::size_t k = 0; k < ranks.size(); ++k)
    if (s == ranks[k][0] || s == ranks[k][1]) return static_cast<int>(k);
  return static_cast<int>(ranks.size());
}

// A 4 x 4 matrix attribute in single or double precision, row by row.
std::optional<std::array<double, 16>> matrix_attribute(const Imf::Header& h, const char* name) {
  std::array<double, 16> m{};
  if (const auto* f = h.findTypedAttribute<Imf::M44fAttribute>(name)) {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) m[static_cast<std::size_t>(r * 4 + c)] = f->value()[r][c];
  } else if (const auto* d = h.findTypedAttribute<Imf::M44dAttribute>(name)) {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) m[static_cast<std::size_t>(r * 4 + c)] = d->value()[r][c];
  } else {
    return std::nullopt;
  }
  return m;
}

// The colour space a part's header names: `oiio:ColorSpace` as image tools write it, else a "colorspace"
// string in any case, as other tools write it.
std::string named_colour_space(const Imf::Header& h) {
  std::string other;
  for (auto it = h.begin(); it != h.end(); ++it) {
    const auto* value = dynamic_cast<const Imf::StringAttribute*>(&it.attribute());
    if (!value || value->value().empty()) continue;
    if (std::string_view(it.name()) == "oiio:ColorSpace") return value->value();
    if (other.empty() && text::equal_ignoring_case(it.name(), "colorspace")) other = value->value();
  }
  return other;
}

// Lines per compressed block, as the format defines them for each compression.
int block_lines(Imf::Compression c) {
  switch (c) {
    case Imf::ZIP_COMPRESSION:
    case Imf::PXR24_COMPRESSION:
      return 16;
    case Imf::PIZ_COMPRESSION:
    case Imf::B44_COMPRESSION:
    case Imf::B44A_COMPRESSION:
    case Imf::DWAA_COMPRESSION:
      return 32;
    case Imf::DWAB_COMPRESSION:
      return 256;
    default:
      return 1;
  }
}

// How many times smaller than its samples a channel can at most be stored: deflate 1032:1, run lengths
// 64:1 and B44's flat blocks 32:3 by their definitions, each with a margin of two; PIZ and DWA by what
// their coding reaches on a flat image, measured (PIZ's Huffman runs 410:1; DWA's flat 8x8 blocks about
// 17000:1 for half and 34000:1 for float samples, which it codes as half) with a margin of two and a half
// to four.
double largest_ratio(Imf::Compression c, Imf::PixelType type) {
  switch (c) {
    case Imf::NO_COMPRESSION:
      return 1.0;
    case Imf::RLE_COMPRESSION:
      return 128.0;
    case Imf::ZIPS_COMPRESSION:
    case Imf::ZIP_COMPRESSION:
      return 2064.0;
    case Imf::PXR24_COMPRESSION:
      return 2064.0 * 4.0 / 3.0;
    case Imf::B44_COMPRESSION:
    case Imf::B44A_COMPRESSION:
      return 22.0;
    case Imf::PIZ_COMPRESSION:
      return 1024.0;
    case Imf::DWAA_COMPRESSION:
    case Imf::DWAB_COMPRESSION:
      return type == Imf::HALF ? 65536.0 : 131072.0;
    default:
      return 0.0;
  }
}

// The bytes of samples a part's header declares (level 0 alone), each channel's divided by
// `ratio(type)`; 0 when a ratio is not positive (no bound).
template <class Ratio>
double declared_bytes(const Imf::Header& h, Ratio ratio) {
  const Imath::Box2i& w = h.dataWindow();
  const double width = static_cast<double>(w.max.x) - w.min.x + 1.0;
  const double height = static_cast<double>(w.max.y) - w.min.y + 1.0;
  if (!(width > 0 && height > 0)) return 0.0;
  double bytes = 0.0;
  for (auto c = h.channels().begin(); c != h.channels().end(); ++c) {
    const Imf::Channel& channel = c.channel();
    const double r = ratio(channel.type);
    if (r <= 0.0) return 0.0;
    const double size = channel.type == Imf::HALF ? 2.0 : 4.0;
    bytes += size * std::floor(width / std::max(1, channel.xSampling)) *
             std::floor(height / std::max(1, channel.ySampling)) / r;
  }
  return bytes;
}

// The bytes of samples a part's header declares, as a lower bound.
double declared_sample_bytes(const Imf::Header& h) {
  return declared_bytes(h, [](Imf::PixelType) { return 1.0; });
}

// The fewest bytes that can store what a part's header declares; 0 when its compression has no bound.
double least_stored_bytes(const Imf::Header& h) {
  return declared_bytes(h, [&](Imf::PixelType type) { return largest_ratio(h.compression(), type); });
}

DD::Image::Box box_of(const Imath::Box2i& b) {
  // Windows are inclusive in the file; a malformed one (max below min) becomes an empty box.
  const auto end = [](int max) { return max == INT32_MAX ? max : max + 1; };
  return {b.min.x, b.min.y, std::max(b.min.x, end(b.max.x)), std::max(b.min.y, end(b.max.y))};
}

class ExrDecoder final : public ImageDecoder {
 public:
  ExrDecoder(const std::string& path, ZipDecoding zip) : path_(path), file_(path.c_str(), 0) {
    std::error_code ec;
    const auto file_bytes = static_cast<double>(std::filesystem::file_size(path, ec));
    for (int p = 0; p < file_.parts(); ++p) {
      const Imf::Header& h = file_.header(p);
      // A damaged header can declare gigabytes of pixels in a few hundred bytes; reading them would cost
      // what they claim, so they are refused before anything is allocated.
      const bool deep = h.hasType() && Imf::isDeepData(h.type());
      const double samples = declared_sample_bytes(h);
      if (!deep && !ec && least_stored_bytes(h) > file_bytes)
        throw codec_error(fmt::format(
            "damaged: its header declares {} x {} pixels ({:.0f} bytes of samples), more than its {} bytes "
            "can hold even compressed",
            static_cast<long long>(h.dataWindow().max.x) - h.dataWindow().min.x + 1,
            static_cast<long long>(h.dataWindow().max.y) - h.dataWindow().min.y + 1, samples,
            static_cast<long long>(file_bytes)));
      PartHeader part;
      if (h.hasName()) part.name = h.name();
      std::vector<std::string> stored;
      for (auto c = h.channels().begin(); c != h.channels().end(); ++c) {
        stored.emplace_back(c.name());
        if (c.channel().xSampling != 1 || c.channel().ySampling != 1) part.subsampled.emplace_back(c.name());
      }
      part.channels = presented_channel_order(std::move(stored));
      part.data = box_of(h.dataWindow());
      part.display = box_of(h.displayWindow());
      if (h.hasTileDescription()) {
        part.tile_width = static_cast<int>(h.tileDescription().xSize);
        part.tile_height = static_cast<int>(h.tileDescription().ySize);
      } else {
        part.block_lines = block_lines(h.compression());
      }
      part.deep = h.hasType() && Imf::isDeepData(h.type());
      part.colour_space = named_colour_space(h);
      part.world_to_camera = matrix_attribute(h, "worldToCamera");
      part.world_to_ndc = matrix_attribute(h, "worldToNDC");
      parts_.push_back(std::move(part));
      own_zip_.push_back(zip == ZipDecoding::libdeflate && zip_readable(h));
      // Each thread inflating a chunk holds it packed, inflated and unpacked.
      if (own_zip_.back()) {
        const PartHeader& added = parts_.back();
        const long long chunks =
            (static_cast<long long>(added.data.h()) + added.block_lines - 1) / added.block_lines;
        const auto threads = static_cast<long long>(
            tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism));
        parts_.back().blocks_in_memory =
            static_cast<int>(3 * std::clamp(chunks, 1LL, std::max(1LL, threads)));
      }
    }
  }

  std::string format_name() const override { return "openexr"; }
  const std::vector<PartHeader>& parts() const override { return parts_; }

  void read(int part, int y_begin, int y_end, int ch_begin, int ch_end, float* dst, std::ptrdiff_t xstride,
            std::ptrdiff_t ystride) override {
    const PartHeader& p = parts_.at(static_cast<std::size_t>(part));
    if (y_begin >= y_end || ch_begin >= ch_end) return;
    const Imf::Header& h = file_.header(part);
    if (own_zip_[static_cast<std::size_t>(part)] && zip_reader()) {
      try {
        zip_reader_->read(part, h, {p.channels.begin() + ch_begin, p.channels.begin() + ch_end}, y_begin,
                          y_end, dst, xstride, ystride);
        return;
      } catch (const std::bad_alloc&) {
        throw codec_error("not enough memory to decode its pixels");
      }
    }
    // OpenEXR addresses a sample as base + x * xstride + y * ystride with the window's own coordinates, so
    // the base lies before dst; unsigned arithmetic keeps forming it defined.
    const auto origin = reinterpret_cast<std::uintptr_t>(dst) -
                        static_cast<std::uintptr_t>(p.data.x()) * xstride -
                        static_cast<std::uintptr_t>(y_begin) * ystride;
    Imf::FrameBuffer frame;
    for (int c = ch_begin; c < ch_end; ++c) {
      const std::string& name = p.channels[static_cast<std::size_t>(c)];
      const Imf::Channel* channel = h.channels().findChannel(name);
      if (!channel) throw codec_error(fmt::format("channel \"{}\" is missing", name));
      if (channel->xSampling != 1 || channel->ySampling != 1)
        throw codec_error(fmt::format("channel \"{}\" is subsampled, which is not supported", name));
      char* base =
          reinterpret_cast<char*>(origin + static_cast<std::uintptr_t>(c - ch_begin) * sizeof(float));
      frame.insert(name, Imf::Slice(Imf::FLOAT, base, static_cast<std::size_t>(xstride),
                                    static_cast<std::size_t>(ystride)));
    }
    try {
      if (p.tile_width > 0) {
        Imf::TiledInputPart in(file_, part);
        in.setFrameBuffer(frame);
        const int th = std::max(1, p.tile_height);
        const int first = (y_begin - p.data.y()) / th;
        const int last = (y_end - 1 - p.data.y()) / th;
        in.readTiles(0, in.numXTiles(0) - 1, first, last, 0);
      } else {
        Imf::InputPart in(file_, part);
        in.setFrameBuffer(frame);
        in.readPixels(y_begin, y_end - 1);
      }
    } catch (const std::bad_alloc&) {
      // The library sizes its buffers from the header, so this is what a damaged one mostly looks like.
      throw codec_error(
          "not enough memory to decode its pixels (a damaged header may claim more than it holds)");
    } catch (const std::exception& e) {
      throw codec_error(text::one_line(e.what()));
    }
  }

 private:
  // Opened on the first zip read; a file the C core will not open is read by OpenEXR's C++ decoding.
  ZipPartReader* zip_reader() {
    if (!zip_reader_ && !zip_refused_) {
      try {
        zip_reader_ = std::make_unique<ZipPartReader>(path_);
      } catch (const codec_error&) {
        zip_refused_ = true;
      }
    }
    return zip_reader_.get();
  }

  std::string path_;
  Imf::MultiPartInputFile file_;
  std::vector<PartHeader> parts_;
  std::vector<bool> own_zip_;  // per part: its chunks are inflated here
  std::unique_ptr<ZipPartReader> zip_reader_;
  bool zip_refused_ = false;
};

}  // namespace

bool is_exr_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char magic[4] = {};
  in.read(reinterpret_cast<char*>(magic), 4);
  return in.gcount() == 4 && magic[0] == 0x76 && magic[1] == 0x2f && magic[2] == 0x31 && magic[3] == 0x01;
}

std::unique_ptr<ImageDecoder> open_exr(const std::string& path, ZipDecoding zip) {
  if (std::string problem = exr_header_problem(path); !problem.empty()) throw codec_error(problem);
  try {
    return std::make_unique<ExrDecoder>(path, zip);
  } catch (const codec_error&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw codec_error("not enough memory to open it (a damaged header may claim more than it holds)");
  } catch (const std::exception& e) {
    throw codec_error(text::one_line(e.what()));
  }
}

std::vector<std::string> presented_channel_order(std::vector<std::string> stored) {
  std::stable_sort(stored.begin(), stored.end(), [](const std::string& a, const std::string& b) {
    const std::string la = layer_of(a), lb = layer_of(b);
    if (la != lb) return la.empty() || (!lb.empty() && la < lb);
    return colour_rank(a) < colour_rank(b);
  });
  return stored;
}

}  // namespace quorlen::hosting
