/// \file image_file.cpp  Opening image files, finding their layers and reading three components of one.
#include "hosting/images/image_file.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "hosting/images/codecs.h"
#include "hosting/system/quiet_stderr.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace {

using DD::Image::Box;

}  // namespace

std::string describe_box(const Box& box) {
  if (box.x() == 0 && box.y() == 0) return fmt::format("{}x{}", box.w(), box.h());
  return fmt::format("{}x{} at ({}, {})", box.w(), box.h(), box.x(), box.y());
}

std::string LayerInfo::shown_name() const { return name.empty() ? std::string("(plain)") : name; }

std::vector<LayerInfo> group_layers(const std::vector<std::string>& part_names,
                                    const std::vector<std::vector<std::string>>& channel_names) {
  std::vector<LayerInfo> layers;
  const auto taken = [&](const std::string& name) {
    return std::any_of(layers.begin(), layers.end(), [&](const LayerInfo& l) { return l.name == name; });
  };
  for (std::size_t part = 0; part < channel_names.size(); ++part) {
    const std::string part_name = part < part_names.size() ? part_names[part] : std::string();
    // Layers of this part in order of their first channel.
    std::vector<std::string> order;
    std::map<std::string, LayerInfo> found;
    const auto& names = channel_names[part];
    for (std::size_t c = 0; c < names.size(); ++c) {
      const std::string prefix(text::before_last_dot(names[c]));
      auto [it, inserted] = found.try_emplace(prefix);
      if (inserted) order.push_back(prefix);
      it->second.subimage = static_cast<int>(part);
      it->second.channels.push_back(static_cast<int>(c));
      it->second.channel_names.push_back(names[c]);
    }
    for (const std::string& prefix : order) {
      LayerInfo layer = std::move(found[prefix]);
      layer.part_name = part_name;
      if (!prefix.empty()) {
        layer.name = prefix;
        // A part holding only this layer can also be called by the part's name.
        if (order.size() > 1) layer.part_name.clear();
      } else if (part == 0) {
        layer.name = "";
      } else {
        layer.name = part_name.empty() ? fmt::format("part{}", part) : part_name;
      }
      if (part > 0 && taken(layer.name)) {
        const std::string qualifier = part_name.empty() ? fmt::format("part{}", part) : part_name;
        layer.name = layer.name.empty() ? qualifier : qualifier + "." + layer.name;
      }
      layers.push_back(std::move(layer));
    }
  }
  return layers;
}

std::array<int, 3> component_positions(const LayerInfo& layer, const std::string& path) {
  const std::size_t n = layer.channel_names.size();
  if (n < 3) {
    throw input_error(fmt::format("layer {} of \"{}\" has {} channel{} ({}); three are needed",
                                  text::escape_controls(layer.shown_name()), path, n, n == 1 ? "" : "s",
                                  text::escape_controls(text::join(layer.channel_names))));
  }
  static const std::array<std::array<const char*, 3>, 3> xyz_first = {
      {{"x", "y", "z"}, {"r", "g", "b"}, {"red", "green", "blue"}}};
  static const std::array<std::array<const char*, 3>, 3> rgb_first = {
      {{"r", "g", "b"}, {"red", "green", "blue"}, {"x", "y", "z"}}};
  const auto& triples = layer.name.empty() ? rgb_first : xyz_first;
  for (const auto& triple : triples) {
    std::array<int, 3> positions{-1, -1, -1};
    for (std::size_t c = 0; c < n; ++c) {
      const std::string s = text::lower(text::last_word(layer.channel_names[c]));
      for (int k = 0; k < 3; ++k)
        if (positions[static_cast<std::size_t>(k)] < 0 && s == triple[static_cast<std::size_t>(k)])
          positions[static_cast<std::size_t>(k)] = static_cast<int>(c);
    }
    if (positions[0] >= 0 && positions[1] >= 0 && positions[2] >= 0) return positions;
  }
  return {0, 1, 2};
}

ImageFile::ImageFile(const std::string& path) : path_(path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw input_error(fmt::format("no such file: \"{}\"", path));
  if (std::filesystem::is_directory(path, ec))
    throw input_error(fmt::format("\"{}\" is a directory, not an image file", path));
  const QuietStderr quiet;
  try {
    decoder_ = open_image(path);
  } catch (const codec_error& e) {
    throw input_error(fmt::format("cannot read \"{}\": {}", path, e.what()));
  }
  std::vector<std::string> part_names;
  std::vector<std::vector<std::string>> channel_names;
  for (const PartHeader& part : decoder_->parts()) {
    part_names.push_back(part.name);
    channel_names.push_back(part.channels);
  }
  if (part_names.empty()) throw input_error(fmt::format("cannot read \"{}\": it holds no image", path));
  layers_ = group_layers(part_names, channel_names);
}

ImageFile::~ImageFile() = default;
ImageFile::ImageFile(ImageFile&&) noexcept = default;
ImageFile& ImageFile::operator=(ImageFile&&) noexcept = default;

const LayerInfo* ImageFile::find_layer(std::string_view name) const {
  for (const auto& l : layers_)
    if (l.name == name || (!l.part_name.empty() && l.part_name == name)) return &l;
  for (const auto& l : layers_)
    if (text::equal_ignoring_case(l.name, name) ||
        (!l.part_name.empty() && text::equal_ignoring_case(l.part_name, name)))
      return &l;
  const auto by_word = layers_by_last_word(name);
  return by_word.size() == 1 ? by_word.front() : nullptr;
}

std::vector<const LayerInfo*> ImageFile::layers_by_last_word(std::string_view word) const {
  const auto matching = [&](bool exact) {
    std::vector<const LayerInfo*> found;
    for (const auto& l : layers_) {
      const auto same = [&](std::string_view n) {
        return !n.empty() &&
               (exact ? text::last_word(n) == word : text::equal_ignoring_case(text::last_word(n), word));
      };
      if (same(l.name) || same(l.part_name)) found.push_back(&l);
    }
    return found;
  };
  auto found = matching(true);
  return found.empty() ? matching(false) : found;
}

const LayerInfo* ImageFile::plain_layer() const {
  for (const auto& l : layers_)
    if (l.name.empty()) return &l;
  return nullptr;
}

const LayerInfo& ImageFile::layer(std::string_view name) const {
  const LayerInfo* l = name.empty() ? plain_layer() : find_layer(name);
  if (l) return *l;
  if (name.empty())
    throw input_error(
        fmt::format("\"{}\" has no plain R, G, B channels; name a layer as FILE:LAYER (layers: {})", path_,
                    layer_list()));
  const std::string shown = text::escape_controls(name);
  const auto by_word = layers_by_last_word(name);
  if (by_word.size() > 1) {
    std::vector<std::string> names;
    for (const LayerInfo* candidate : by_word) names.push_back(text::escape_controls(candidate->name));
    throw input_error(
        fmt::format("\"{}\" has several layers whose last word is \"{}\" ({}); name one in full", path_,
                    shown, text::join(names)));
  }
  // A near miss of a full name or of a last word suggests the full name.
  std::vector<std::string> candidates;
  for (const auto& candidate : layers_)
    if (!candidate.name.empty()) {
      candidates.push_back(candidate.name);
      candidates.emplace_back(text::last_word(candidate.name));
    }
  std::string suggestion = text::closest_match(name, candidates);
  if (!suggestion.empty()) {
    const LayerInfo* meant = find_layer(suggestion);
    suggestion = meant ? meant->name : std::string();
  }
  throw input_error(fmt::format(
      "\"{}\" has no layer \"{}\"{} (layers: {})", path_, shown,
      suggestion.empty() ? std::string()
                         : fmt::format(" (did you mean \"{}\"?)", text::escape_controls(suggestion)),
      layer_list()));
}

std::string ImageFile::layer_list() const {
  std::vector<std::string> names;
  for (const auto& l : layers_) names.push_back(text::escape_controls(l.shown_name()));
  return text::join(names);
}

ImageGeometry ImageFile::geometry(int subimage) const {
  const PartHeader& p = part(subimage);
  return {p.data, p.display};
}

const PartHeader& ImageFile::part(int subimage) const {
  return decoder_->parts().at(static_cast<std::size_t>(subimage));
}

LayerReader::LayerReader(ImageFile file, std::string_view layer, long long max_pixels)
    : file_(std::move(file)) {
  const LayerInfo& info = file_.layer(layer);
  const auto positions = component_positions(info, file_.path());
  subimage_ = info.subimage;
  layer_ = info.name;
  for (std::size_t k = 0; k < 3; ++k) {
    channels_[k] = info.channels[static_cast<std::size_t>(positions[k])];
    names_[k] = info.channel_names[static_cast<std::size_t>(positions[k])];
  }
  check_size(max_pixels);
  // The header says so already, so a dry run refuses what the render would; the channels between the
  // three are read with them.
  const PartHeader& part = file_.part(subimage_);
  const int first = *std::min_element(channels_.begin(), channels_.end());
  const int last = *std::max_element(channels_.begin(), channels_.end());
  for (int c = first; c <= last; ++c) {
    const std::string& name = part.channels.at(static_cast<std::size_t>(c));
    if (std::find(part.subsampled.begin(), part.subsampled.end(), name) != part.subsampled.end())
      throw input_error(
          fmt::format("cannot read \"{}\": channel \"{}\" is subsampled, which is not supported",
                      file_.path(), text::escape_controls(name)));
  }
}

LayerReader::LayerReader(ImageFile file, int subimage, int channel, long long max_pixels)
    : file_(std::move(file)), subimage_(subimage) {
  const PartHeader& spec = file_.part(subimage_);
  channels_ = {channel, channel, channel};
  const std::string& name = spec.channels.at(static_cast<std::size_t>(channel));
  names_ = {name, name, name};
  layer_ = std::string(text::before_last_dot(name));
  check_size(max_pixels);
}

void LayerReader::check_size(long long max_pixels) {
  const PartHeader& spec = file_.part(subimage_);
  if (spec.deep)
    throw input_error(fmt::format("\"{}\" holds deep data, which cannot be read as a pass", file_.path()));
  if (spec.depth > 1)
    throw input_error(fmt::format("\"{}\" is a volume image, which cannot be read as a pass", file_.path()));
  geometry_ = file_.geometry(subimage_);
  // Sizes come from the header alone; they are checked before any buffer of that size exists.
  const long long width = static_cast<long long>(spec.data.r()) - spec.data.x();
  const long long height = static_cast<long long>(spec.data.t()) - spec.data.y();
  if (width <= 0 || height <= 0)
    throw input_error(fmt::format("\"{}\" holds an image of no pixels ({}x{})", file_.path(), width, height));
  if (width * height > max_pixels)
    throw input_error(
        fmt::format("\"{}\" claims {}x{} pixels, more than the limit of {}; raise it with --max-pixels "
                    "if the file is genuine",
                    file_.path(), width, height, max_pixels));
  // Memory follows the width, whatever the height: a line must fit the streaming bands too.
  if (width > std::max(kMinWidthLimit, max_pixels / kWidthShare))
    throw input_error(fmt::format(
        "\"{}\" claims {}x{} pixels, a width of more than {} (--max-pixels / {}); raise "
        "--max-pixels if the file is genuine",
        file_.path(), width, height, std::max(kMinWidthLimit, max_pixels / kWidthShare), kWidthShare));
}

LayerReader::~LayerReader() = default;
LayerReader::LayerReader(LayerReader&&) noexcept = default;
LayerReader& LayerReader::operator=(LayerReader&&) noexcept = default;

std::string LayerReader::description() const {
  return fmt::format("{}{}{} ({}, {}, {})", file_.path(), layer_.empty() ? "" : ":",
                     text::escape_controls(layer_), text::escape_controls(names_[0]),
                     text::escape_controls(names_[1]), text::escape_controls(names_[2]));
}

int LayerReader::chunk_lines() const {
  const PartHeader& spec = file_.part(subimage_);
  return std::max(1, spec.tile_width > 0 ? spec.tile_height : spec.block_lines);
}

long long LayerReader::block_bytes() const {
  const PartHeader& part = file_.part(subimage_);
  const long long width = part.tile_width > 0 ? part.tile_width : std::max(1, geometry_.data.w());
  const long long lines = std::min(chunk_lines(), std::max(1, geometry_.data.h()));
  return static_cast<long long>(part.blocks_in_memory) * lines * width *
         static_cast<long long>(part.channels.size()) * 4;
}

void LayerReader::read_into(DD::Image::ImageBuffer& dst) {
  const Box overlap = geometry_.data.intersected(dst.box());
  if (overlap.empty()) return;
  const int red = dst.channel_index(DD::Image::Chan_Red);
  const int green = dst.channel_index(DD::Image::Chan_Green);
  const int blue = dst.channel_index(DD::Image::Chan_Blue);
  const std::array<int, 3> targets{red, green, blue};

  const PartHeader& spec = file_.part(subimage_);
  // The contiguous channel range holding the three components is read in one call.
  const int ch_begin = *std::min_element(channels_.begin(), channels_.end());
  const int ch_end = *std::max_element(channels_.begin(), channels_.end()) + 1;
  const std::size_t stride = static_cast<std::size_t>(ch_end - ch_begin);
  const Box& window = geometry_.data;

  ImageDecoder& decoder = file_.decoder();
  const auto read = [&](int y0, int y1, float* to, std::ptrdiff_t xstride, std::ptrdiff_t ystride) {
    const QuietStderr quiet;
    try {
      decoder.read(subimage_, y0, y1, ch_begin, ch_end, to, xstride, ystride);
    } catch (const codec_error& e) {
      throw input_error(fmt::format("cannot read \"{}\": {}", file_.path(), e.what()));
    }
  };
  const int n = dst.channel_count();
  // Scanline files whose components are three channels in order, covering dst's lines exactly, are read
  // straight into dst.
  const bool in_order = ch_end - ch_begin == 3 && channels_[0] == ch_begin && channels_[1] == ch_begin + 1 &&
                        green == red + 1 && blue == red + 2;
  if (spec.tile_width <= 0 && in_order && red >= 0 && overlap.x() == dst.box().x() &&
      overlap.w() == dst.box().w() && window.x() == overlap.x() && window.w() == overlap.w()) {
    const auto pixel = static_cast<std::ptrdiff_t>(sizeof(float)) * n;
    read(overlap.y(), overlap.t(), dst.line(overlap.y()) + red, pixel, pixel * dst.box().w());
    return;
  }

  // Tiled files are read in whole tile rows; scanline files in exactly the lines needed.
  int y_begin = overlap.y(), y_end = overlap.t();
  if (spec.tile_width > 0) {
    const int th = std::max(1, spec.tile_height);
    y_begin = window.y() + (overlap.y() - window.y()) / th * th;
    y_end = std::min(window.t(), window.y() + (overlap.t() - window.y() + th - 1) / th * th);
  }
  std::vector<float> lines(static_cast<std::size_t>(y_end - y_begin) * static_cast<std::size_t>(window.w()) *
                           stride);
  const auto pixel = static_cast<std::ptrdiff_t>(sizeof(float) * stride);
  read(y_begin, y_end, lines.data(), pixel, pixel * window.w());

  for (int y = overlap.y(); y < overlap.t(); ++y) {
    const float* src =
        lines.data() + (static_cast<std::size_t>(y - y_begin) * static_cast<std::size_t>(window.w()) +
                        static_cast<std::size_t>(overlap.x() - window.x())) *
                           stride;
    float* out = dst.line(y) + static_cast<std::ptrdiff_t>(overlap.x() - dst.box().x()) * n;
    for (int x = overlap.x(); x < overlap.r(); ++x, src += stride, out += n)
      for (std::size_t k = 0; k < 3; ++k)
        if (targets[k] >= 0) out[targets[k]] = src[channels_[k] - ch_begin];
  }
}

}  // namespace quorlen::hosting
