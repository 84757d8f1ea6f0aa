/// \file quorlen_module.cpp  The `quorlen._quorlen` extension: a node session on numpy arrays, image files
/// and the command's render job, for the pure-Python package around it.
#include <dlfcn.h>
#include <fmt/format.h>
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/images.h>
#include <quorlen/module.h>
#include <quorlen/preview.h>
#include <quorlen/render.h>
#include <quorlen/rig_session.h>
#include <quorlen/session.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "text/strings.h"

namespace py = pybind11;
using DD::Image::Box;
using DD::Image::ImageBuffer;
using quorlen::hosting::Error;
using quorlen::hosting::ErrorKind;
using quorlen::hosting::kInputCount;
using quorlen::hosting::kInputLabels;

namespace {

const std::vector<DD::Image::Channel> kRGB{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue};
const std::vector<DD::Image::Channel> kRGBA{DD::Image::Chan_Red, DD::Image::Chan_Green, DD::Image::Chan_Blue,
                                            DD::Image::Chan_Alpha};

// The command's own one-line form of a message.
std::string one_line(const std::string& message) {
  return quorlen::text::escape_controls(quorlen::text::one_line(message));
}

// The extension's directory stands for the executable's: the install layout is found relative to it.
void locate_install_layout() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&locate_install_layout), &info) == 0 || !info.dli_fname) return;
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::canonical(info.dli_fname, ec);
  if (ec) return;
  quorlen::hosting::set_executable_dir(
      (self.parent_path() / QUORLEN_PYTHON_TO_BINDIR).lexically_normal().string());
}

// A buffer moved to the heap, owned by the numpy array that shows it.
py::array_t<float> to_array(ImageBuffer&& image) {
  auto* owned = new ImageBuffer(std::move(image));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<ImageBuffer*>(p); });
  const auto h = static_cast<py::ssize_t>(owned->box().h());
  const auto w = static_cast<py::ssize_t>(owned->box().w());
  const auto c = static_cast<py::ssize_t>(owned->channel_count());
  const auto f = static_cast<py::ssize_t>(sizeof(float));
  return py::array_t<float>({h, w, c}, {w * c * f, c * f, f}, owned->data(), free_when_done);
}

std::string shape_text(const py::array& a) {
  std::string out = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(a.shape(i));
  }
  return out + (a.ndim() == 1 ? ",)" : ")");
}

// One input array as the session takes it: float32, C-contiguous, three or four channels per pixel.
struct InputArray {
  py::array_t<float> samples;  // keeps the pixels alive while they are rendered
  int height = 0, width = 0, channels = 0;
  int code_bits = 0;  // 8 or 16 for integer codes (scaled to 0..1), 0 for values
};

InputArray input_array(const py::object& value, const char* label) {
  py::array any = py::array::ensure(value);
  if (!any) throw py::value_error(fmt::format("{}: not an array of numbers", label));
  // Truth values, complex numbers and objects are not samples, whatever numpy would cast them to.
  if (const char kind = any.dtype().kind(); kind == 'b' || kind == 'c' || kind == 'O')
    throw py::type_error(
        fmt::format("{}: an array of {} holds no pixel values (give float32, or uint8 or uint16 "
                    "codes as image files hold them)",
                    label, py::str(any.dtype()).cast<std::string>()));
  if (any.ndim() != 3 || (any.shape(2) != 3 && any.shape(2) != 4))
    throw py::value_error(fmt::format("{}: expected an array of shape (H, W, 3) or (H, W, 4), got shape {}",
                                      label, shape_text(any)));
  if (any.shape(0) == 0 || any.shape(1) == 0)
    throw py::value_error(fmt::format("{}: the array is empty (shape {})", label, shape_text(any)));
  if (any.shape(0) > std::numeric_limits<int>::max() / 2 ||
      any.shape(1) > std::numeric_limits<int>::max() / 2)
    throw py::value_error(fmt::format("{}: the array is too large (shape {})", label, shape_text(any)));
  InputArray out;
  // ensure() returns the same array, without a copy, when it already is C-contiguous float32.
  bool converted = false;
  try {
    out.samples = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(any);
    converted = static_cast<bool>(out.samples);
  } catch (const std::exception&) {
    // A dtype numpy cannot cast to float32 (text, for one).
  }
  if (!converted) {
    PyErr_Clear();
    throw py::value_error(fmt::format("{}: cannot convert an array of {} to float32", label,
                                      py::str(any.dtype()).cast<std::string>()));
  }
  out.height = static_cast<int>(any.shape(0));
  out.width = static_cast<int>(any.shape(1));
  out.channels = static_cast<int>(any.shape(2));
  // Integer codes are read as an 8-bit or 16-bit file's are: over their largest value, times its
  // reciprocal as the image library computes it, so the floats equal a file's of the same codes to the bit
  // (the cast made a copy of our own to scale).
  if (any.dtype().kind() == 'u' && (any.itemsize() == 1 || any.itemsize() == 2)) {
    out.code_bits = any.itemsize() == 1 ? 8 : 16;
    const float scale = 1.0f / (any.itemsize() == 1 ? 255.0f : 65535.0f);
    float* p = out.samples.mutable_data();
    for (py::ssize_t i = 0; i < out.samples.size(); ++i) p[i] *= scale;
  }
  return out;
}

// The arrays of a render as the session's input buffers, viewed without a copy where they already are
// C-contiguous float32; `arrays` keeps them alive while they are rendered.
struct ViewedInputs {
  std::array<std::optional<InputArray>, kInputCount> arrays;
  quorlen::hosting::ImageGeometry geometry;
  std::array<std::shared_ptr<const ImageBuffer>, kInputCount> images;
};

// The `colorspaces` mapping of a render (input label to a colour space name of the config), checked as the
// command checks --colorspace.
std::map<std::string, std::string> colour_spaces_of(const py::object& colorspaces) {
  std::map<std::string, std::string> out;
  if (colorspaces.is_none()) return out;
  if (!py::isinstance<py::dict>(colorspaces))
    throw py::type_error(
        "colorspaces: expected a dict of input names to colour space names, such as "
        "{\"color\": \"ACEScg\"}");
  for (const auto& [key, value] : colorspaces.cast<py::dict>()) {
    if (!py::isinstance<py::str>(key) || !py::isinstance<py::str>(value))
      throw py::type_error("colorspaces: input names and colour space names are strings");
    out[key.cast<std::string>()] = value.cast<std::string>();
  }
  quorlen::hosting::check_input_spaces(out, "colorspaces");
  return out;
}

// The colour input brought to the working space from its space (converted in a copy; the array is never
// written), and its fourth channel kept aside when the output is to carry it.
void prepare_colour(ViewedInputs& viewed, const std::map<std::string, std::string>& spaces, bool alpha) {
  const auto& colour = viewed.arrays[quorlen::hosting::kColor];
  if (alpha && (!colour || colour->channels != 4))
    throw quorlen::hosting::usage_error(
        colour ? "alpha: the color array has no fourth channel to carry (its shape is (H, W, 3))"
               : "alpha: there is no color array to carry the alpha of");
  if (!colour) return;
  const auto chosen = spaces.find("color");
  const std::string space = quorlen::hosting::held_colour_space(
      chosen == spaces.end() ? std::nullopt : std::optional<std::string>(chosen->second), colour->code_bits,
      "colorspaces color");
  auto& image = viewed.images[quorlen::hosting::kColor];
  image = quorlen::hosting::in_working_space(image, space);
}

// The colour array's fourth channel as the output's alpha, as the command copies the colour input's alpha.
void carry_alpha(const InputArray& colour, ImageBuffer& out) {
  const int a = out.channel_index(DD::Image::Chan_Alpha);
  const float* src = colour.samples.data();
  const Box& box = out.box();
  for (int y = box.y(); y < box.t(); ++y)
    for (int x = box.x(); x < box.r(); ++x)
      out.at(x, y, a) = src[(static_cast<std::size_t>(y) * static_cast<std::size_t>(colour.width) +
                             static_cast<std::size_t>(x)) *
                                4 +
                            3];
}

ViewedInputs viewed_inputs(const py::object& normal, const py::object& color, const py::object& position,
                           const py::object& noise_position) {
  ViewedInputs viewed;
  auto& arrays = viewed.arrays;
  if (normal.is_none()) throw py::value_error("normal: an array is required");
  const std::array<const py::object*, kInputCount> given{&color, &normal, &position, &noise_position};
  for (int slot = 0; slot < kInputCount; ++slot) {
    const py::object& value = *given[static_cast<std::size_t>(slot)];
    if (!value.is_none()) arrays[static_cast<std::size_t>(slot)] = input_array(value, kInputLabels[slot]);
  }
  const InputArray& n = *arrays[quorlen::hosting::kNormal];
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& a = arrays[static_cast<std::size_t>(slot)];
    if (a && (a->height != n.height || a->width != n.width))
      throw py::value_error(
          fmt::format("{}: shape ({}, {}, {}) does not match the normal input's ({}, {}, {})",
                      kInputLabels[slot], a->height, a->width, a->channels, n.height, n.width, n.channels));
  }
  // Lines are stored from y 0 upwards, as an EXR file's are read: the array's first row is line 0.
  const Box box(0, 0, n.width, n.height);
  viewed.geometry = quorlen::hosting::ImageGeometry{box, box};
  auto& images = viewed.images;
  for (int slot = 0; slot < kInputCount; ++slot) {
    const auto& a = arrays[static_cast<std::size_t>(slot)];
    if (!a) continue;
    // The session only reads its inputs, so a read-only array may be viewed as well.
    images[static_cast<std::size_t>(slot)] = std::make_shared<const ImageBuffer>(
        ImageBuffer::view(box, a->channels == 4 ? kRGBA : kRGB, const_cast<float*>(a->samples.data())));
  }
  return viewed;
}

// The knob calls of a node, shared by Node and a rig's lights. Unknown names are a KeyError with the
// suggestion, values the knob refuses a ValueError; the node is unchanged either way.
// The reading the keywords name, in the command's words; None leaves the choice to the settings file.
quorlen::hosting::PassChoices pass_choices(const std::optional<std::string>& light_space,
                                           const std::optional<std::string>& normal_encoding,
                                           const std::optional<std::string>& normal_space,
                                           const std::optional<std::string>& normal_flip) {
  namespace h = quorlen::hosting;
  h::PassChoices choices;
  if (light_space) choices.light_space = h::light_space_named(*light_space, "light_space");
  if (normal_encoding)
    choices.normal_encoding = h::normal_encoding_named(*normal_encoding, "normal_encoding");
  if (normal_space) choices.normal_space = h::normal_space_named(*normal_space, "normal_space");
  if (normal_flip) choices.normal_flip = h::normal_flip_named(*normal_flip, "normal_flip");
  return choices;
}

namespace knob_calls {

void require_knob(quorlen::hosting::Node& node, const std::string& name) {
  const auto names = node.knob_names();
  if (std::find(names.begin(), names.end(), name) != names.end()) return;
  try {
    node.available(name);
  } catch (const Error& e) {
    throw py::key_error(one_line(e.what()));
  }
  throw py::key_error(name);
}

void set_json(quorlen::hosting::Node& node, const std::string& name, const nlohmann::json& value) {
  require_knob(node, name);
  try {
    node.set_json(name, value);
  } catch (const Error& e) {
    throw py::value_error(one_line(e.what()));
  }
}

void apply_json(quorlen::hosting::Node& node, const nlohmann::json& settings) {
  for (const auto& [name, value] : settings.items()) require_knob(node, name);
  try {
    node.apply(settings);
  } catch (const Error& e) {
    throw py::value_error(one_line(e.what()));
  }
}

std::string value_json(quorlen::hosting::Node& node, const std::string& name) {
  require_knob(node, name);
  const nlohmann::json panel = node.panel();
  for (const auto& knob : panel["knobs"])
    if (knob["name"].is_string() && knob["name"].get_ref<const std::string&>() == name)
      return knob["value"].dump();
  throw py::key_error(name);
}

// What the knob takes, as `quorlen knobs` shows it ("3 numbers", "one of parallel, point").
std::string accepts(quorlen::hosting::Node& node, const std::string& name) {
  require_knob(node, name);
  for (const auto& row : node.knob_rows())
    if (row.name == name) return row.accepts;
  throw py::key_error(name);
}

std::string dumped(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace knob_calls

// A node with its own lock: the session underneath is used by one thread at a time.
class PyNode {
 public:
  explicit PyNode(const std::optional<std::string>& plugin_path)
      : session_(quorlen::hosting::load_operator(plugin_path, &module_path_)) {}

  const std::string& module_path() const { return module_path_; }

  std::vector<std::string> knob_names() {
    auto lock = locked();
    return session_.node().knob_names();
  }
  void set_json(const std::string& name, const std::string& value) {
    const nlohmann::json parsed = nlohmann::json::parse(value);
    auto lock = locked();
    knob_calls::set_json(session_.node(), name, parsed);
  }
  void apply_json(const std::string& settings) {
    const nlohmann::json parsed = nlohmann::json::parse(settings);
    auto lock = locked();
    knob_calls::apply_json(session_.node(), parsed);
  }
  std::string value_json(const std::string& name) {
    auto lock = locked();
    return knob_calls::value_json(session_.node(), name);
  }
  std::string value_text(const std::string& name) {
    auto lock = locked();
    knob_calls::require_knob(session_.node(), name);
    return session_.node().value_text(name);
  }
  bool available(const std::string& name) {
    auto lock = locked();
    knob_calls::require_knob(session_.node(), name);
    return session_.node().available(name);
  }
  std::string accepts(const std::string& name) {
    auto lock = locked();
    return knob_calls::accepts(session_.node(), name);
  }
  std::string settings_json() {
    auto lock = locked();
    return knob_calls::dumped(session_.node().settings());
  }
  std::string panel_json() {
    auto lock = locked();
    return knob_calls::dumped(session_.node().panel());
  }

  py::array_t<float> render(const py::object& normal, const py::object& color, const py::object& position,
                            const py::object& noise_position, int threads,
                            const std::optional<std::string>& light_space,
                            const std::optional<std::string>& normal_encoding, const py::object& colorspaces,
                            bool alpha, const std::optional<std::string>& normal_space,
                            const std::optional<std::string>& normal_flip) {
    // A lone node has no settings file: what is not named is read as the command reads it by default.
    const quorlen::hosting::PassReading reading = quorlen::hosting::pass_reading(
        quorlen::hosting::RigFile{}, pass_choices(light_space, normal_encoding, normal_space, normal_flip));
    if (threads < 0)
      throw py::value_error(fmt::format("threads: {} is negative (0 uses every core)", threads));
    const auto spaces = colour_spaces_of(colorspaces);
    ViewedInputs viewed = viewed_inputs(normal, color, position, noise_position);
    auto& images = viewed.images;
    const auto& geometry = viewed.geometry;
    ImageBuffer out;
    {
      py::gil_scoped_release release;
      prepare_colour(viewed, spaces, alpha);
      std::lock_guard<std::mutex> lock(mutex_);
      try {
        session_.set_inputs(geometry, std::move(images), reading);
        out = session_.render(threads);
      } catch (...) {
        session_.clear_inputs();
        throw;
      }
      // The views point into arrays Python may free once this call returns.
      session_.clear_inputs();
      if (alpha) carry_alpha(*viewed.arrays[quorlen::hosting::kColor], out);
    }
    return to_array(std::move(out));
  }

 private:
  // Waiting for a render on another thread must not hold the interpreter.
  std::unique_lock<std::mutex> locked() {
    py::gil_scoped_release release;
    return std::unique_lock<std::mutex>(mutex_);
  }

  std::string module_path_;  // before the session, which sets it while it is made
  std::mutex mutex_;
  quorlen::hosting::Session session_;
};

// A rig with its own lock: one node a light over the same arrays, rendered into layers and the beauty.
class PyRig {
 public:
  PyRig(const std::string& settings_json, const std::optional<std::string>& path,
        const std::optional<std::string>& plugin_path)
      : rig_(make_rig(settings_json, path, plugin_path)) {}

  std::vector<std::string> lights() {
    auto lock = locked();
    return rig_.lights();
  }
  std::optional<std::string> light_space() const {
    const auto& space = rig_.rig().light_space;
    return space ? std::optional<std::string>(std::string(quorlen::hosting::word_of(*space))) : std::nullopt;
  }
  std::optional<std::string> normal_encoding() const {
    const auto& encoding = rig_.rig().normal_encoding;
    return encoding ? std::optional<std::string>(std::string(quorlen::hosting::word_of(*encoding)))
                    : std::nullopt;
  }

  // The node of one light, for the knob calls Node makes; a name that is no light is a KeyError.
  quorlen::hosting::Node& light(const std::string& name) {
    try {
      return rig_.light(name);
    } catch (const Error& e) {
      throw py::key_error(one_line(e.what()));
    }
  }
  std::unique_lock<std::mutex> locked() {
    py::gil_scoped_release release;
    return std::unique_lock<std::mutex>(mutex_);
  }

  std::vector<std::string> knob_names(const std::string& l) {
    auto lock = locked();
    return light(l).knob_names();
  }
  void set_json(const std::string& l, const std::string& name, const std::string& value) {
    const nlohmann::json parsed = nlohmann::json::parse(value);
    auto lock = locked();
    knob_calls::set_json(light(l), name, parsed);
  }
  void apply_json(const std::string& l, const std::string& settings) {
    const nlohmann::json parsed = nlohmann::json::parse(settings);
    auto lock = locked();
    knob_calls::apply_json(light(l), parsed);
  }
  std::string value_json(const std::string& l, const std::string& name) {
    auto lock = locked();
    return knob_calls::value_json(light(l), name);
  }
  std::string value_text(const std::string& l, const std::string& name) {
    auto lock = locked();
    knob_calls::require_knob(light(l), name);
    return light(l).value_text(name);
  }
  bool available(const std::string& l, const std::string& name) {
    auto lock = locked();
    knob_calls::require_knob(light(l), name);
    return light(l).available(name);
  }
  std::string accepts(const std::string& l, const std::string& name) {
    auto lock = locked();
    return knob_calls::accepts(light(l), name);
  }
  std::string settings_json(const std::string& l) {
    auto lock = locked();
    return knob_calls::dumped(light(l).settings());
  }
  std::string panel_json(const std::string& l) {
    auto lock = locked();
    return knob_calls::dumped(light(l).panel());
  }

  py::object render(const py::object& normal, const py::object& color, const py::object& position,
                    const py::object& noise_position, int threads,
                    const std::optional<std::string>& light_space,
                    const std::optional<std::string>& normal_encoding, const py::dict& masks, bool layers,
                    const std::vector<std::string>& solo, const py::object& colorspaces, bool alpha,
                    const std::optional<std::string>& normal_space,
                    const std::optional<std::string>& normal_flip) {
    const quorlen::hosting::PassReading reading = quorlen::hosting::pass_reading(
        rig_.rig(), pass_choices(light_space, normal_encoding, normal_space, normal_flip));
    if (threads < 0)
      throw py::value_error(fmt::format("threads: {} is negative (0 uses every core)", threads));
    const auto spaces = colour_spaces_of(colorspaces);
    ViewedInputs viewed = viewed_inputs(normal, color, position, noise_position);
    prepare_colour(viewed, spaces, alpha);
    const Box& box = viewed.geometry.data;
    std::vector<std::pair<std::string, py::array_t<float>>> mask_arrays;
    for (const auto& [key, value] : masks) {
      const std::string name = py::str(key);
      py::array any = py::array::ensure(value);
      if (!any || any.dtype().kind() == 'O' || any.dtype().kind() == 'b' || any.dtype().kind() == 'c')
        throw py::type_error(fmt::format("masks[\"{}\"]: not an array of real numbers", name));
      if ((any.ndim() != 2 && any.ndim() != 3) || any.shape(0) != box.h() || any.shape(1) != box.w() ||
          (any.ndim() == 3 && (any.shape(2) < 1 || any.shape(2) > 4)))
        throw py::value_error(fmt::format("masks[\"{}\"]: expected shape ({}, {}) or ({}, {}, C), got {}",
                                          name, box.h(), box.w(), box.h(), box.w(), shape_text(any)));
      mask_arrays.emplace_back(name,
                               py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(any));
    }
    quorlen::hosting::RigSession::Result result;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      try {
        rig_.set_inputs(viewed.geometry, viewed.images, reading);
        for (const auto& [name, array] : mask_arrays) {
          const std::size_t channels = array.ndim() == 3 ? static_cast<std::size_t>(array.shape(2)) : 1;
          const std::vector<DD::Image::Channel> which(kRGBA.begin(),
                                                      kRGBA.begin() + static_cast<std::ptrdiff_t>(channels));
          rig_.set_mask(name, std::make_shared<const ImageBuffer>(
                                  ImageBuffer::view(box, which, const_cast<float*>(array.data()))));
        }
        result = rig_.render(threads, solo);
      } catch (...) {
        rig_.clear_inputs();
        throw;
      }
      rig_.clear_inputs();
      if (alpha) {
        carry_alpha(*viewed.arrays[quorlen::hosting::kColor], result.beauty);
        for (auto& [name, image] : result.layers)
          carry_alpha(*viewed.arrays[quorlen::hosting::kColor], image);
      }
    }
    if (!layers) return to_array(std::move(result.beauty));
    py::dict out;
    out["beauty"] = to_array(std::move(result.beauty));
    for (auto& [name, image] : result.layers) out[py::str(name)] = to_array(std::move(image));
    return out;
  }

 private:
  static quorlen::hosting::RigFile parse(const std::string& settings_json,
                                         const std::optional<std::string>& path) {
    if (path) return quorlen::hosting::read_rig_file(*path);
    return quorlen::hosting::parse_rig(nlohmann::json::parse(settings_json), "settings");
  }
  static quorlen::hosting::RigSession make_rig(const std::string& settings_json,
                                               const std::optional<std::string>& path,
                                               const std::optional<std::string>& plugin_path) {
    return quorlen::hosting::RigSession(quorlen::hosting::load_operator(plugin_path),
                                        parse(settings_json, path));
  }

  std::mutex mutex_;
  quorlen::hosting::RigSession rig_;
};

py::array_t<float> read_layer(const std::string& path, const std::optional<std::string>& layer) {
  ImageBuffer image;
  {
    py::gil_scoped_release release;
    image = quorlen::hosting::read_layer(path, layer.value_or(""));
  }
  return to_array(std::move(image));
}

// An array written as the command writes a frame: light in the working space (integer codes read from
// their colour space first), R, G, B and A (1 where the array has no fourth channel), row 0 first.
void write_array(const std::string& path, const py::object& value, const std::optional<std::string>& dtype,
                 const std::optional<std::string>& compression, const std::optional<std::string>& display,
                 const std::optional<std::string>& view, const std::optional<std::string>& look,
                 const std::optional<std::string>& colorspace) {
  using namespace quorlen::hosting;
  OutputOptions options;
  if (dtype) {
    options.type = data_type_named(*dtype);
    if (!options.type)
      throw usage_error(
          fmt::format("dtype: \"{}\" is not a sample type (choices: half, float, uint8, uint16)",
                      quorlen::text::escape_controls(*dtype)));
  }
  options.compression = compression;
  options.display = display;
  options.view = view;
  options.look = look;
  options.colour_space = colorspace;
  check_output_path(path, options);  // before the array is converted
  const InputArray a = input_array(value, "array");
  py::gil_scoped_release release;
  const Box box(0, 0, a.width, a.height);
  const std::string space = held_colour_space(std::nullopt, a.code_bits, "array");
  auto image =
      in_working_space(std::make_shared<const ImageBuffer>(ImageBuffer::view(
                           box, a.channels == 4 ? kRGBA : kRGB, const_cast<float*>(a.samples.data()))),
                       space);
  if (a.channels == 3) {
    ImageBuffer rgba(box, kRGBA);
    const float* src = image->data();
    float* dst = rgba.data();
    for (std::size_t i = 0, n = static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height); i < n;
         ++i, src += 3, dst += 4) {
      std::copy(src, src + 3, dst);
      dst[3] = 1.0f;
    }
    write_image(path, ImageGeometry{box, box}, rgba, options);
  } else {
    write_image(path, ImageGeometry{box, box}, *image, options);
  }
}

py::array_t<std::uint8_t> preview(const py::object& value, double exposure) {
  const InputArray a = input_array(value, "array");
  if (!std::isfinite(exposure)) throw py::value_error("exposure: must be a finite number of stops");
  quorlen::hosting::Preview codes;
  {
    py::gil_scoped_release release;
    const ImageBuffer view = ImageBuffer::view(Box(0, 0, a.width, a.height), a.channels == 4 ? kRGBA : kRGB,
                                               const_cast<float*>(a.samples.data()));
    codes = quorlen::hosting::preview_codes(view, quorlen::hosting::PreviewKind::colour, exposure);
  }
  auto* owned = new std::vector<std::uint8_t>(std::move(codes.rgb));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
  return py::array_t<std::uint8_t>(
      {static_cast<py::ssize_t>(a.height), static_cast<py::ssize_t>(a.width), static_cast<py::ssize_t>(3)},
      owned->data(), free_when_done);
}

// The command's render job. A Python exception raised by the progress callback stops the job (the
// unfinished output is removed) and is raised again to the caller.
void render_files(const std::string& output, const std::optional<std::string>& passes,
                  const std::array<std::optional<std::string>, kInputCount>& inputs,
                  const std::optional<std::string>& settings_file,
                  const std::optional<std::string>& settings_values, const std::optional<std::string>& frames,
                  const py::object& progress, const py::object& warn,
                  const std::optional<std::string>& plugin_path, int threads, const py::object& colorspaces) {
  using namespace quorlen::hosting;
  RenderRequest request;
  request.inputs = inputs;
  request.input_spaces = colour_spaces_of(colorspaces);
  request.passes = passes;
  request.output = output;
  request.threads = threads;
  request.settings.settings_file = settings_file;
  if (settings_values) request.settings.values = nlohmann::json::parse(*settings_values);
  if (frames) request.frames = parse_frame_list(*frames);
  check_request(request);  // usage problems before the module is looked for
  std::optional<py::error_already_set> callback_error;
  // Between frames, on the calling thread, the interpreter gets its turn: a callback runs, and a Ctrl-C
  // (a signal Python's handler has noted) stops the job as the callback's exception would.
  const auto call = [&](const py::object& f, auto&&... args) {
    if (callback_error) return;
    py::gil_scoped_acquire acquire;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!f.is_none()) f(std::forward<decltype(args)>(args)...);
    } catch (py::error_already_set& e) {
      callback_error.emplace(std::move(e));
      throw quorlen::hosting::interrupted_error("stopped by Python");
    }
  };
  const py::object none = py::none();
  RenderObserver observer;
  observer.warning = [&](const std::string& w) { call(warn, one_line(w)); };
  observer.frame_started = [&](int, int, int) { call(none); };
  observer.frame_finished = [&](int frame, int index, int count, double) {
    call(progress, frame, index + 1, count);
  };
  observer.frame_skipped = [&](int frame, int index, int count) { call(progress, frame, index + 1, count); };
  std::ostringstream ignored;
  try {
    py::gil_scoped_release release;
    const auto& description = load_operator(plugin_path);
    run_render(request, description, ignored, observer);
  } catch (const Error&) {
    if (callback_error) throw std::move(*callback_error);
    throw;
  }
}

// The colour config in use (after choosing `path`, when given) as a dict.
py::dict colour_config(const std::optional<std::string>& path) {
  if (path) quorlen::hosting::choose_colour_config(*path);
  const auto& info = quorlen::hosting::colour_config();
  static const char* const sources[] = {"chosen", "$OCIO", "default"};
  py::dict displays;
  for (const auto& [display, views] : info.displays) displays[py::str(display)] = views;
  py::dict out;
  out["path"] = info.path;
  out["source"] = sources[static_cast<int>(info.source)];
  out["name"] = info.name;
  out["working_space"] = info.working_space;
  out["colour_spaces"] = info.colour_spaces;
  out["data_spaces"] = info.data_spaces;
  out["displays"] = displays;
  out["looks"] = info.looks;
  out["display"] = info.default_display;
  out["view"] = info.default_view;
  return out;
}

// A colour preview through a display, view and look of the config, with the view controls.
py::array_t<std::uint8_t> preview_through(const py::object& value, const std::optional<std::string>& display,
                                          const std::optional<std::string>& view,
                                          const std::optional<std::string>& look, double exposure,
                                          double gamma) {
  const InputArray a = input_array(value, "array");
  quorlen::hosting::PreviewView how{display, view, look, exposure, gamma};
  quorlen::hosting::Preview codes;
  {
    py::gil_scoped_release release;
    const ImageBuffer image = ImageBuffer::view(Box(0, 0, a.width, a.height), a.channels == 4 ? kRGBA : kRGB,
                                                const_cast<float*>(a.samples.data()));
    codes = quorlen::hosting::preview_codes(image, how);
  }
  auto* owned = new std::vector<std::uint8_t>(std::move(codes.rgb));
  py::capsule free_when_done(owned, [](void* p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
  return py::array_t<std::uint8_t>(
      {static_cast<py::ssize_t>(a.height), static_cast<py::ssize_t>(a.width), static_cast<py::ssize_t>(3)},
      owned->data(), free_when_done);
}

}  // namespace

PYBIND11_MODULE(_quorlen, m) {
  m.def("colour_config", &colour_config, py::arg("path") = py::none());
  m.def("preview_through", &preview_through, py::arg("array"), py::arg("display"), py::arg("view"),
        py::arg("look"), py::arg("exposure"), py::arg("gamma"));
  m.doc() = "The Quorlen node on numpy arrays and image files; use the `quorlen` package.";
  locate_install_layout();

  // One class a kind, all of them quorlen.Error; a bad request is also a ValueError, as Python's own are.
  static py::exception<Error> error(m, "Error", PyExc_RuntimeError);
  // Kept for the life of the process, as the interpreter keeps the module's own references.
  static std::map<ErrorKind, PyObject*> classes;
  const auto add_class = [&m](const char* name, ErrorKind kind, std::vector<PyObject*> bases) {
    py::tuple base_tuple(bases.size());
    for (std::size_t i = 0; i < bases.size(); ++i)
      base_tuple[i] = py::reinterpret_borrow<py::object>(bases[i]);
    const std::string qualified = std::string("quorlen.") + name;
    py::object cls =
        py::reinterpret_steal<py::object>(PyErr_NewException(qualified.c_str(), base_tuple.ptr(), nullptr));
    if (!cls) throw py::error_already_set();
    m.attr(name) = cls;
    classes[kind] = cls.release().ptr();
  };
  add_class("UsageError", ErrorKind::usage, {error.ptr(), PyExc_ValueError});
  add_class("InputError", ErrorKind::input, {error.ptr()});
  add_class("ModuleError", ErrorKind::module, {error.ptr()});
  add_class("OutputError", ErrorKind::output, {error.ptr()});
  add_class("Interrupted", ErrorKind::interrupted, {error.ptr()});
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Error& e) {
      PyErr_SetString(classes.at(e.kind()), one_line(e.what()).c_str());
    } catch (const nlohmann::json::exception& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });

  py::class_<PyNode>(m, "_Node")
      .def(py::init<const std::optional<std::string>&>(), py::arg("plugin_path") = py::none())
      .def_property_readonly("module_path", &PyNode::module_path)
      .def("knob_names", &PyNode::knob_names)
      .def("set_json", &PyNode::set_json)
      .def("apply_json", &PyNode::apply_json)
      .def("value_json", &PyNode::value_json)
      .def("value_text", &PyNode::value_text)
      .def("available", &PyNode::available)
      .def("panel_json", &PyNode::panel_json)
      .def("settings_json", &PyNode::settings_json)
      .def("accepts", &PyNode::accepts)
      .def("render", &PyNode::render, py::arg("normal"), py::arg("color") = py::none(),
           py::arg("P") = py::none(), py::arg("noiseP") = py::none(), py::arg("threads") = 0,
           py::arg("light_space") = py::none(), py::arg("normal_encoding") = py::none(),
           py::arg("colorspaces") = py::none(), py::arg("alpha") = false,
           py::arg("normal_space") = py::none(), py::arg("normal_flip") = py::none());

  py::class_<PyRig>(m, "_Rig")
      .def(py::init<const std::string&, const std::optional<std::string>&,
                    const std::optional<std::string>&>(),
           py::arg("settings_json"), py::arg("path") = py::none(), py::arg("plugin_path") = py::none())
      .def("lights", &PyRig::lights)
      .def_property_readonly("light_space", &PyRig::light_space)
      .def_property_readonly("normal_encoding", &PyRig::normal_encoding)
      .def("knob_names", &PyRig::knob_names)
      .def("set_json", &PyRig::set_json)
      .def("apply_json", &PyRig::apply_json)
      .def("value_json", &PyRig::value_json)
      .def("value_text", &PyRig::value_text)
      .def("available", &PyRig::available)
      .def("accepts", &PyRig::accepts)
      .def("settings_json", &PyRig::settings_json)
      .def("panel_json", &PyRig::panel_json)
      .def("render", &PyRig::render, py::arg("normal"), py::arg("color") = py::none(),
           py::arg("P") = py::none(), py::arg("noiseP") = py::none(), py::arg("threads") = 0,
           py::arg("light_space") = py::none(), py::arg("normal_encoding") = py::none(),
           py::arg("masks") = py::dict(), py::arg("layers") = false,
           py::arg("solo") = std::vector<std::string>{}, py::arg("colorspaces") = py::none(),
           py::arg("alpha") = false, py::arg("normal_space") = py::none(),
           py::arg("normal_flip") = py::none());

  m.def("read", &read_layer, py::arg("path"), py::arg("layer") = py::none());
  m.def("write", &write_array, py::arg("path"), py::arg("array"), py::arg("dtype"), py::arg("compression"),
        py::arg("display"), py::arg("view"), py::arg("look"), py::arg("colorspace"));
  m.def("layers", &quorlen::hosting::layer_names, py::arg("path"));
  m.def("preview", &preview, py::arg("array"), py::arg("exposure") = 0.0);
  m.def("render_files", &render_files);
  // The chunks of a frame list as `quorlen render --chunk-size K --chunk-index I` takes them, for Dask.
  m.def("frame_chunks", [](const std::string& frames, int chunk_size) {
    const auto list = quorlen::hosting::parse_frame_list(frames);
    std::vector<std::vector<int>> chunks;
    for (int i = 0; i < quorlen::hosting::chunk_count(list, chunk_size); ++i)
      chunks.push_back(quorlen::hosting::frame_chunk(list, chunk_size, i).numbers);
    return chunks;
  });
}
