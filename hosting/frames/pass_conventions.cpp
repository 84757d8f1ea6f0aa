/// \file pass_conventions.cpp  The light space and normal encoding: their words and what they do to normals.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/inputs.h>

#include <algorithm>

#include "text/strings.h"

namespace quorlen::hosting {

using DD::Image::Box;
using DD::Image::ImageBuffer;

namespace {

template <class Words>
std::size_t word_index(std::string_view word, const Words& words, std::string_view what) {
  for (std::size_t i = 0; i < words.size(); ++i)
    if (text::equal_ignoring_case(word, words[i])) return i;
  const std::string near = text::closest_match(text::lower(word), words);
  throw usage_error(fmt::format("{}: \"{}\" is not {}{}", what, text::escape_controls(word),
                                text::join(words, " or "),
                                near.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", near)));
}

}  // namespace

int input_slot_named(std::string_view label) {
  for (int slot = 0; slot < kInputCount; ++slot)
    if (label == kInputLabels[static_cast<std::size_t>(slot)]) return slot;
  return -1;
}

std::string_view word_of(LightSpace space) { return kLightSpaceWords[space == LightSpace::world ? 1 : 0]; }

std::string_view word_of(NormalEncoding encoding) {
  return kNormalEncodingWords[encoding == NormalEncoding::unsigned_values ? 1 : 0];
}

LightSpace light_space_named(std::string_view word, std::string_view what) {
  return word_index(word, kLightSpaceWords, what) == 1 ? LightSpace::world : LightSpace::node;
}

NormalEncoding normal_encoding_named(std::string_view word, std::string_view what) {
  return word_index(word, kNormalEncodingWords, what) == 1 ? NormalEncoding::unsigned_values
                                                           : NormalEncoding::signed_values;
}

std::string_view word_of(NormalSpace space) {
  return kNormalSpaceWords[space == NormalSpace::camera ? 1 : 0];
}

NormalSpace normal_space_named(std::string_view word, std::string_view what) {
  return word_index(word, kNormalSpaceWords, what) == 1 ? NormalSpace::camera : NormalSpace::world;
}

NormalFlip normal_flip_named(std::string_view words, std::string_view what) {
  NormalFlip flip{};
  if (text::equal_ignoring_case(words, "none")) return flip;
  std::size_t start = 0;
  while (start <= words.size()) {
    const std::size_t comma = std::min(words.find(',', start), words.size());
    const std::string_view word = words.substr(start, comma - start);
    flip[word_index(word, kAxisWords, what)] = true;
    start = comma + 1;
  }
  return flip;
}

std::string word_of(const NormalFlip& flip) {
  std::string out;
  for (std::size_t k = 0; k < 3; ++k)
    if (flip[k]) out += (out.empty() ? "" : ",") + std::string(kAxisWords[k]);
  return out.empty() ? "none" : out;
}

std::string describe(LightSpace space, NormalEncoding encoding) {
  return fmt::format(
      "{}; normals {}",
      space == LightSpace::world
          ? "world space: light knobs in the passes' own space (the normal input's z negated for the node)"
          : "node space: light knobs as the node defines them (it negates the light vector's z)",
      encoding == NormalEncoding::unsigned_values ? "unsigned (stored as 0.5 n + 0.5, decoded as 2 v - 1)"
                                                  : "signed (as stored)");
}

void transform_normals(ImageBuffer& image, const Box& box, LightSpace space, NormalEncoding encoding) {
  if (space == LightSpace::node && encoding == NormalEncoding::signed_values) return;
  const int n = image.channel_count();
  const int k[3] = {image.channel_index(DD::Image::Chan_Red), image.channel_index(DD::Image::Chan_Green),
                    image.channel_index(DD::Image::Chan_Blue)};
  const Box area = box.intersected(image.box());
  for (int y = area.y(); y < area.t(); ++y) {
    float* p = image.line(y) + static_cast<std::ptrdiff_t>(area.x() - image.box().x()) * n;
    for (int x = area.x(); x < area.r(); ++x, p += n) {
      if (encoding == NormalEncoding::unsigned_values)
        for (int c : k) p[c] = 2.0f * p[c] - 1.0f;
      if (space == LightSpace::world) p[k[2]] = -p[k[2]];
    }
  }
}

}  // namespace quorlen::hosting
