/// \file zip_chunks.cpp  ZIP chunks: bytes split into even and odd halves, each byte stored as its difference
/// from the one before (plus 128), then deflated in zlib's format.
#include "hosting/images/exr/zip_chunks.h"

#include <libdeflate.h>

#include <new>

namespace quorlen::hosting {

struct ZipPacker::Compressor {
  libdeflate_compressor* handle;
  explicit Compressor(int level) : handle(libdeflate_alloc_compressor(level)) {
    if (!handle) throw std::bad_alloc();
  }
  ~Compressor() { libdeflate_free_compressor(handle); }
};

struct ZipUnpacker::Decompressor {
  libdeflate_decompressor* handle;
  Decompressor() : handle(libdeflate_alloc_decompressor()) {
    if (!handle) throw std::bad_alloc();
  }
  ~Decompressor() { libdeflate_free_decompressor(handle); }
};

ZipPacker::ZipPacker(int level) : compressor_(std::make_unique<Compressor>(level)) {}
ZipPacker::~ZipPacker() = default;

const std::vector<std::uint8_t>& ZipPacker::pack(const std::uint8_t* raw, std::size_t size) {
  pack_into(raw, size, packed_);
  return packed_;
}

void ZipPacker::pack_into(const std::uint8_t* raw, std::size_t size, std::vector<std::uint8_t>& out) {
  reordered_.resize(size);
  const std::size_t half = (size + 1) / 2;
  std::uint8_t* even = reordered_.data();
  std::uint8_t* odd = even + half;
  for (std::size_t i = 0; i < size / 2; ++i) {
    even[i] = raw[2 * i];
    odd[i] = raw[2 * i + 1];
  }
  if (size % 2 != 0) even[half - 1] = raw[size - 1];
  // Backwards, so each difference is taken against the byte before it as it was.
  for (std::size_t i = size; i-- > 1;)
    reordered_[i] = static_cast<std::uint8_t>(reordered_[i] - reordered_[i - 1] + 128);

  out.resize(libdeflate_zlib_compress_bound(compressor_->handle, size));
  const std::size_t packed = size == 0 ? 0
                                       : libdeflate_zlib_compress(compressor_->handle, reordered_.data(),
                                                                  size, out.data(), out.size());
  if (packed == 0 || packed >= size) {
    out.assign(raw, raw + size);
  } else {
    out.resize(packed);
  }
}

ZipUnpacker::ZipUnpacker() : decompressor_(std::make_unique<Decompressor>()) {}
ZipUnpacker::~ZipUnpacker() = default;

std::string ZipUnpacker::unpack(const std::uint8_t* packed, std::size_t packed_size, std::uint8_t* out,
                                std::size_t unpacked_size) {
  if (packed_size > unpacked_size)
    return "a zip chunk of " + std::to_string(packed_size) + " bytes is larger than the " +
           std::to_string(unpacked_size) + " bytes it unpacks to";
  if (packed_size == unpacked_size) {
    std::copy(packed, packed + packed_size, out);
    return {};
  }
  inflated_.resize(unpacked_size);
  std::size_t inflated = 0;
  switch (libdeflate_zlib_decompress(decompressor_->handle, packed, packed_size, inflated_.data(),
                                     unpacked_size, &inflated)) {
    case LIBDEFLATE_SUCCESS:
      break;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      return "a zip chunk inflates past its " + std::to_string(unpacked_size) + " bytes";
    case LIBDEFLATE_SHORT_OUTPUT:
      return "a zip chunk inflates to " + std::to_string(inflated) + " bytes, not " +
             std::to_string(unpacked_size);
    default:
      return "a zip chunk's compressed stream is corrupt";
  }
  if (inflated != unpacked_size)
    return "a zip chunk inflates to " + std::to_string(inflated) + " bytes, not " +
           std::to_string(unpacked_size);

  std::uint8_t* t = inflated_.data();
  for (std::size_t i = 1; i < unpacked_size; ++i) t[i] = static_cast<std::uint8_t>(t[i - 1] + t[i] - 128);
  const std::size_t half = (unpacked_size + 1) / 2;
  const std::uint8_t* even = t;
  const std::uint8_t* odd = t + half;
  for (std::size_t i = 0; i < unpacked_size / 2; ++i) {
    out[2 * i] = even[i];
    out[2 * i + 1] = odd[i];
  }
  if (unpacked_size % 2 != 0) out[unpacked_size - 1] = even[half - 1];
  return {};
}

}  // namespace quorlen::hosting
