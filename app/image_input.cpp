/// \file image_input.cpp  Opening image files, finding their layers and reading three components of one.
#include "app/image_input.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include <fmt/format.h>

#include "app/errors.h"
#include "app/quiet_stderr.h"

namespace quorlen::app {
namespace {

using DD::Image::Box;

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string prefix_of(const std::string& channel) {
  const std::size_t dot = channel.rfind('.');
  return dot == std::string::npos ? std::string() : channel.substr(0, dot);
}

std::string short_name(const std::string& channel) {
  const std::size_t dot = channel.rfind('.');
  return dot == std::string::npos ? channel : channel.substr(dot + 1);
}

// OIIO keeps its last error per thread and per object; both are drained so a later message is not stale.
std::string oiio_error(OIIO::ImageInput* in) {
  std::string message = in ? in->geterror() : std::string();
  const std::string global = OIIO::geterror();
  if (message.empty()) message = global;
  // Messages may span lines; the command prints one.
  std::replace(message.begin(), message.end(), '\n', ' ');
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message.empty() ? std::string("unknown error") : message;
}

Box data_window(const OIIO::ImageSpec& s) { return {s.x, s.y, s.x + s.width, s.y + s.height}; }

Box display_window(const OIIO::ImageSpec& s) {
  return {s.full_x, s.full_y, s.full_x + s.full_width, s.full_y + s.full_height};
}

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
      const std::string prefix = prefix_of(names[c]);
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
    std::string list;
    for (const auto& c : layer.channel_names) list += (list.empty() ? "" : ", ") + c;
    throw usage_error(fmt::format("layer {} of \"{}\" has {} channel{} ({}); three are needed",
                                  layer.shown_name(), path, n, n == 1 ? "" : "s", list));
  }
  static const std::array<std::array<const char*, 3>, 3> xyz_first = {{{"x", "y", "z"}, {"r", "g", "b"}, {"red", "green", "blue"}}};
  static const std::array<std::array<const char*, 3>, 3> rgb_first = {{{"r", "g", "b"}, {"red", "green", "blue"}, {"x", "y", "z"}}};
  const auto& triples = layer.name.empty() ? rgb_first : xyz_first;
  for (const auto& triple : triples) {
    std::array<int, 3> positions{-1, -1, -1};
    for (std::size_t c = 0; c < n; ++c) {
      const std::string s = lower(short_name(layer.channel_names[c]));
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
  if (!std::filesystem::exists(path, ec)) throw usage_error(fmt::format("no such file: \"{}\"", path));
  if (std::filesystem::is_directory(path, ec))
    throw usage_error(fmt::format("\"{}\" is a directory, not an image file", path));
  const QuietStderr quiet;
  input_ = OIIO::ImageInput::open(path);
  if (!input_) throw usage_error(fmt::format("cannot read \"{}\": {}", path, oiio_error(nullptr)));
  std::vector<std::string> part_names;
  std::vector<std::vector<std::string>> channel_names;
  for (int s = 0; input_->seek_subimage(s, 0); ++s) {
    const OIIO::ImageSpec& spec = input_->spec();
    specs_.push_back(spec);
    part_names.push_back(spec.get_string_attribute("oiio:subimagename"));
    channel_names.push_back(spec.channelnames);
  }
  input_->geterror();  // seeking past the last part leaves an error behind
  if (specs_.empty()) throw usage_error(fmt::format("cannot read \"{}\": it holds no image", path));
  layers_ = group_layers(part_names, channel_names);
}

ImageFile::~ImageFile() = default;
ImageFile::ImageFile(ImageFile&&) noexcept = default;
ImageFile& ImageFile::operator=(ImageFile&&) noexcept = default;

const LayerInfo* ImageFile::find_layer(std::string_view name) const {
  for (const auto& l : layers_)
    if (l.name == name || (!l.part_name.empty() && l.part_name == name)) return &l;
  const std::string wanted = lower(name);
  for (const auto& l : layers_)
    if (lower(l.name) == wanted || (!l.part_name.empty() && lower(l.part_name) == wanted)) return &l;
  return nullptr;
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
    throw usage_error(fmt::format("\"{}\" has no plain R, G, B channels; name a layer as FILE:LAYER (layers: {})",
                                  path_, layer_list()));
  throw usage_error(fmt::format("\"{}\" has no layer \"{}\" (layers: {})", path_, name, layer_list()));
}

std::string ImageFile::layer_list() const {
  std::string out;
  for (const auto& l : layers_) out += (out.empty() ? "" : ", ") + l.shown_name();
  return out;
}

ImageGeometry ImageFile::geometry(int subimage) const {
  const auto& s = specs_.at(static_cast<std::size_t>(subimage));
  return {data_window(s), display_window(s)};
}

const OIIO::ImageSpec& ImageFile::spec(int subimage) const { return specs_.at(static_cast<std::size_t>(subimage)); }

LayerReader::LayerReader(ImageFile file, std::string_view layer, long long max_pixels) : file_(std::move(file)) {
  const LayerInfo& info = file_.layer(layer);
  const auto positions = component_positions(info, file_.path());
  subimage_ = info.subimage;
  layer_ = info.name;
  for (std::size_t k = 0; k < 3; ++k) {
    channels_[k] = info.channels[static_cast<std::size_t>(positions[k])];
    names_[k] = info.channel_names[static_cast<std::size_t>(positions[k])];
  }
  const OIIO::ImageSpec& spec = file_.spec(subimage_);
  if (spec.deep) throw usage_error(fmt::format("\"{}\" holds deep data, which cannot be read as a pass", file_.path()));
  if (spec.depth > 1) throw usage_error(fmt::format("\"{}\" is a volume image, which cannot be read as a pass", file_.path()));
  geometry_ = file_.geometry(subimage_);
  // Sizes come from the header alone; they are checked before any buffer of that size exists.
  if (spec.width <= 0 || spec.height <= 0)
    throw usage_error(fmt::format("\"{}\" holds an image of no pixels ({}x{})", file_.path(), spec.width, spec.height));
  const long long pixels = static_cast<long long>(spec.width) * static_cast<long long>(spec.height);
  if (pixels > max_pixels)
    throw usage_error(fmt::format("\"{}\" claims {}x{} pixels, more than the limit of {}; raise it with --max-pixels "
                                  "if the file is genuine",
                                  file_.path(), spec.width, spec.height, max_pixels));
}

LayerReader::~LayerReader() = default;
LayerReader::LayerReader(LayerReader&&) noexcept = default;
LayerReader& LayerReader::operator=(LayerReader&&) noexcept = default;

std::string LayerReader::description() const {
  return fmt::format("{}{}{} ({}, {}, {})", file_.path(), layer_.empty() ? "" : ":", layer_, names_[0], names_[1],
                     names_[2]);
}

int LayerReader::chunk_lines() const {
  const OIIO::ImageSpec& spec = file_.spec(subimage_);
  if (spec.tile_width > 0) return std::max(1, spec.tile_height);
  if (std::string_view(file_.format_name()) != "openexr") return 1;
  // Lines per block of each compression, as the format defines them.
  const std::string compression = lower(spec.get_string_attribute("compression"));
  static const std::array<std::pair<std::string_view, int>, 7> blocks = {
      {{"zips", 1}, {"zip", 16}, {"pxr24", 16}, {"piz", 32}, {"b44", 32}, {"dwaa", 32}, {"dwab", 256}}};
  for (const auto& [name, lines] : blocks)
    if (compression.rfind(name, 0) == 0) return lines;
  return 1;
}

void LayerReader::read_into(DD::Image::ImageBuffer& dst) {
  const Box overlap = geometry_.data.intersected(dst.box());
  if (overlap.empty()) return;
  const int red = dst.channel_index(DD::Image::Chan_Red);
  const int green = dst.channel_index(DD::Image::Chan_Green);
  const int blue = dst.channel_index(DD::Image::Chan_Blue);
  const std::array<int, 3> targets{red, green, blue};

  const OIIO::ImageSpec& spec = file_.spec(subimage_);
  // The contiguous channel range holding the three components is read in one call.
  const int ch_begin = *std::min_element(channels_.begin(), channels_.end());
  const int ch_end = *std::max_element(channels_.begin(), channels_.end()) + 1;
  const std::size_t stride = static_cast<std::size_t>(ch_end - ch_begin);
  const Box& window = geometry_.data;

  OIIO::ImageInput& in = file_.input();
  const int n = dst.channel_count();
  // Scanline files whose components are three channels in order, covering dst's lines exactly, are read
  // straight into dst.
  const bool in_order = ch_end - ch_begin == 3 && channels_[0] == ch_begin && channels_[1] == ch_begin + 1 &&
                        green == red + 1 && blue == red + 2;
  if (spec.tile_width <= 0 && in_order && red >= 0 && overlap.x() == dst.box().x() && overlap.w() == dst.box().w() &&
      window.x() == overlap.x() && window.w() == overlap.w()) {
    const QuietStderr quiet;
    const auto pixel = static_cast<OIIO::stride_t>(sizeof(float)) * n;
    if (!in.read_scanlines(subimage_, 0, overlap.y(), overlap.t(), 0, ch_begin, ch_end, OIIO::TypeFloat,
                           dst.line(overlap.y()) + red, pixel, pixel * dst.box().w()))
      throw usage_error(fmt::format("cannot read \"{}\": {}", file_.path(), oiio_error(&in)));
    return;
  }

  // Tiled files are read in whole tile rows; scanline files in exactly the lines needed.
  int y_begin = overlap.y(), y_end = overlap.t();
  if (spec.tile_width > 0) {
    const int th = std::max(1, spec.tile_height);
    y_begin = window.y() + (overlap.y() - window.y()) / th * th;
    y_end = std::min(window.t(), window.y() + (overlap.t() - window.y() + th - 1) / th * th);
  }
  std::vector<float> lines(static_cast<std::size_t>(y_end - y_begin) * static_cast<std::size_t>(window.w()) * stride);
  const QuietStderr quiet;
  const bool ok = spec.tile_width > 0
                      ? in.read_tiles(subimage_, 0, window.x(), window.r(), y_begin, y_end, 0, 1, ch_begin, ch_end,
                                      OIIO::TypeFloat, lines.data())
                      : in.read_scanlines(subimage_, 0, y_begin, y_end, 0, ch_begin, ch_end, OIIO::TypeFloat,
                                          lines.data());
  if (!ok) throw usage_error(fmt::format("cannot read \"{}\": {}", file_.path(), oiio_error(&in)));

  for (int y = overlap.y(); y < overlap.t(); ++y) {
    const float* src = lines.data() + (static_cast<std::size_t>(y - y_begin) * static_cast<std::size_t>(window.w()) +
                                       static_cast<std::size_t>(overlap.x() - window.x())) *
                                          stride;
    float* out = dst.line(y) + static_cast<std::ptrdiff_t>(overlap.x() - dst.box().x()) * n;
    for (int x = overlap.x(); x < overlap.r(); ++x, src += stride, out += n)
      for (std::size_t k = 0; k < 3; ++k)
        if (targets[k] >= 0) out[targets[k]] = src[channels_[k] - ch_begin];
  }
}

}  // namespace quorlen::app
