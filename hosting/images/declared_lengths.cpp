/// \file declared_lengths.cpp  Walking EXR attributes and PNG chunks by their declared lengths.
#include "hosting/images/declared_lengths.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

namespace quorlen::hosting {
namespace {

// The file and its size; the stream is not usable when the file cannot be read.
std::uint64_t open_sized(std::ifstream& in, const std::string& path) {
  in.open(path, std::ios::binary | std::ios::ate);
  if (!in) return 0;
  const auto size = static_cast<std::uint64_t>(in.tellg());
  in.seekg(0);
  return size;
}

}  // namespace

std::string exr_header_problem(const std::string& path) {
  std::ifstream in;
  const std::uint64_t size = open_sized(in, path);
  if (!in) return {};  // the library reports unreadable files itself
  unsigned char start[8] = {};
  if (!in.read(reinterpret_cast<char*>(start), 8)) return {};
  const bool multipart = (start[5] & 0x10) != 0;
  const auto read_text = [&](std::string& text) {
    text.clear();
    for (char c; in.get(c);) {
      if (c == 0) return true;
      if (text.size() == 255) return false;  // longer than any name the format allows
      text.push_back(c);
    }
    return false;
  };
  std::string name, type;
  while (true) {
    if (!read_text(name)) return {};  // cut short: OpenEXR says so in its own words
    if (name.empty()) {               // end of a header; a multi-part file's headers end with an empty one
      if (!multipart || in.peek() == 0 || in.peek() == std::char_traits<char>::eof()) return {};
      continue;
    }
    unsigned char length_bytes[4] = {};
    if (!read_text(type) || !in.read(reinterpret_cast<char*>(length_bytes), 4)) return {};
    const std::uint32_t length =
        length_bytes[0] | length_bytes[1] << 8 | length_bytes[2] << 16 | std::uint32_t{length_bytes[3]} << 24;
    const auto at = static_cast<std::uint64_t>(in.tellg());
    if (length > size - at)
      return fmt::format("damaged header: attribute \"{}\" claims {} bytes, the file holds {} more", name,
                         static_cast<std::int32_t>(length), size - at);
    in.seekg(static_cast<std::streamoff>(length), std::ios::cur);
  }
}

std::string png_chunks_problem(const std::string& path) {
  std::ifstream in;
  const std::uint64_t size = open_sized(in, path);
  static constexpr unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  unsigned char start[8] = {};
  if (!in || !in.read(reinterpret_cast<char*>(start), 8) || !std::equal(start, start + 8, signature))
    return {};
  for (std::uint64_t at = 8; at + 8 <= size;) {
    unsigned char head[8] = {};  // length (big-endian), type
    if (!in.read(reinterpret_cast<char*>(head), 8)) return {};
    const std::uint32_t length = std::uint32_t{head[0]} << 24 | head[1] << 16 | head[2] << 8 | head[3];
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    at += 8;
    if (length > size - at)
      return fmt::format("damaged file: chunk \"{}\" claims {} bytes, the file holds {} more", type, length,
                         size - at);
    if (type == "IEND") return {};
    at += std::uint64_t{length} + 4;  // data, checksum
    in.seekg(static_cast<std::streamoff>(at));
  }
  return {};
}

}  // namespace quorlen::hosting
