/// \file zip_part_reader.cpp  Zip chunks read with pread by OpenEXR's C core (whose context may be shared by
/// threads), inflated and converted to float lines by the thread that read them.
#include "hosting/images/exr/zip_part_reader.h"

#include <Imath/half.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfPartType.h>
#include <OpenEXR/openexr.h>
#include <fmt/format.h>
#include <tbb/enumerable_thread_specific.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "hosting/images/exr/zip_chunks.h"

namespace quorlen::hosting {
namespace {

// The C core reports through this as well as through its return codes; the codes are what is used.
void ignore_errors(exr_const_context_t, exr_result_t, const char*) {}

std::string core_message(exr_result_t code) { return exr_get_default_error_message(code); }

std::size_t sample_bytes(Imf::PixelType type) { return type == Imf::HALF ? 2 : 4; }

// Where each wanted channel lies in an unpacked line, and its type.
struct Placement {
  std::size_t offset;
  Imf::PixelType type;
};

struct Scratch {
  ZipUnpacker unpacker;
  std::vector<std::uint8_t> packed;
  std::vector<std::uint8_t> unpacked;
};

}  // namespace

bool zip_readable(const Imf::Header& header) {
  if (header.hasTileDescription()) return false;
  if (header.hasType() && header.type() != Imf::SCANLINEIMAGE) return false;
  if (header.compression() != Imf::ZIP_COMPRESSION && header.compression() != Imf::ZIPS_COMPRESSION)
    return false;
  for (auto c = header.channels().begin(); c != header.channels().end(); ++c) {
    const Imf::Channel& channel = c.channel();
    if (channel.xSampling != 1 || channel.ySampling != 1) return false;
    if (channel.type != Imf::HALF && channel.type != Imf::FLOAT && channel.type != Imf::UINT) return false;
  }
  return true;
}

struct ZipPartReader::Core {
  exr_context_t context = nullptr;
  tbb::enumerable_thread_specific<Scratch> scratch;
  ~Core() { exr_finish(&context); }
};

ZipPartReader::ZipPartReader(const std::string& path) : core_(std::make_unique<Core>()) {
  exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
  init.error_handler_fn = ignore_errors;
  if (const exr_result_t r = exr_start_read(&core_->context, path.c_str(), &init); r != EXR_ERR_SUCCESS)
    throw codec_error(core_message(r));
}

ZipPartReader::~ZipPartReader() = default;

void ZipPartReader::read(int part, const Imf::Header& header, const std::vector<std::string>& channels,
                         int y_begin, int y_end, float* dst, std::ptrdiff_t xstride, std::ptrdiff_t ystride) {
  const Imath::Box2i& window = header.dataWindow();
  const auto width = static_cast<std::size_t>(static_cast<long long>(window.max.x) - window.min.x + 1);
  std::size_t line_bytes = 0;
  std::vector<std::pair<std::string, Placement>> stored;
  for (auto c = header.channels().begin(); c != header.channels().end(); ++c) {
    stored.push_back({c.name(), {line_bytes, c.channel().type}});
    line_bytes += width * sample_bytes(c.channel().type);
  }
  std::vector<Placement> wanted;
  for (const auto& name : channels) {
    const auto at =
        std::find_if(stored.begin(), stored.end(), [&](const auto& s) { return s.first == name; });
    if (at == stored.end()) throw codec_error(fmt::format("channel \"{}\" is missing", name));
    wanted.push_back(at->second);
  }

  const int lines_per_chunk = header.compression() == Imf::ZIP_COMPRESSION ? 16 : 1;
  const long long first = (static_cast<long long>(y_begin) - window.min.y) / lines_per_chunk;
  const long long last = (static_cast<long long>(y_end) - 1 - window.min.y) / lines_per_chunk;

  tbb::parallel_for(first, last + 1, [&](long long k) {
    const int chunk_y = static_cast<int>(window.min.y + k * lines_per_chunk);
    exr_chunk_info_t info{};
    if (const exr_result_t r = exr_read_scanline_chunk_info(core_->context, part, chunk_y, &info);
        r != EXR_ERR_SUCCESS)
      throw codec_error(fmt::format("the zip chunk of line {}: {}", chunk_y, core_message(r)));
    const long long lines =
        std::min<long long>(lines_per_chunk, static_cast<long long>(window.max.y) - chunk_y + 1);
    const std::size_t unpacked_size = static_cast<std::size_t>(lines) * line_bytes;
    if (info.start_y != chunk_y || info.height != lines || info.unpacked_size != unpacked_size)
      throw codec_error(fmt::format("the zip chunk of line {} does not match the header", chunk_y));
    if (info.packed_size > unpacked_size)
      throw codec_error(fmt::format("the zip chunk of line {} is {} bytes, larger than the {} it unpacks to",
                                    chunk_y, info.packed_size, unpacked_size));

    Scratch& s = core_->scratch.local();
    s.packed.resize(info.packed_size);
    s.unpacked.resize(unpacked_size);
    if (const exr_result_t r = exr_read_chunk(core_->context, part, &info, s.packed.data());
        r != EXR_ERR_SUCCESS)
      throw codec_error(fmt::format("the zip chunk of line {}: {}", chunk_y, core_message(r)));
    if (std::string problem =
            s.unpacker.unpack(s.packed.data(), s.packed.size(), s.unpacked.data(), unpacked_size);
        !problem.empty())
      throw codec_error(fmt::format("line {}: {}", chunk_y, problem));

    const int from = std::max(chunk_y, y_begin);
    const int to = static_cast<int>(std::min<long long>(chunk_y + lines, y_end));
    for (int y = from; y < to; ++y) {
      const std::uint8_t* line = s.unpacked.data() + static_cast<std::size_t>(y - chunk_y) * line_bytes;
      char* row = reinterpret_cast<char*>(dst) + static_cast<std::ptrdiff_t>(y - y_begin) * ystride;
      for (std::size_t c = 0; c < wanted.size(); ++c) {
        const std::uint8_t* in = line + wanted[c].offset;
        char* out = row + static_cast<std::ptrdiff_t>(c * sizeof(float));
        switch (wanted[c].type) {
          case Imf::HALF:
            for (std::size_t x = 0; x < width; ++x, in += 2, out += xstride) {
              Imath::half h;
              std::uint16_t bits;
              std::memcpy(&bits, in, 2);
              h.setBits(bits);
              const float v = h;
              std::memcpy(out, &v, sizeof v);
            }
            break;
          case Imf::FLOAT:
            for (std::size_t x = 0; x < width; ++x, in += 4, out += xstride) std::memcpy(out, in, 4);
            break;
          default:
            for (std::size_t x = 0; x < width; ++x, in += 4, out += xstride) {
              std::uint32_t u;
              std::memcpy(&u, in, 4);
              const auto v = static_cast<float>(u);
              std::memcpy(out, &v, sizeof v);
            }
            break;
        }
      }
    }
  });
}

}  // namespace quorlen::hosting
