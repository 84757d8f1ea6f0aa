// Temporary directories, small image files and runs of the built `quorlen` binary for the app tests.
#pragma once

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quorlen::hosting_test {

namespace fs = std::filesystem;

/// A fresh directory, removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "quorlen-app-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }
  /// Names of the files in the directory, sorted.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path path_;
};

/// Quotes one argument for the shell.
inline std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct RunResult {
  int code = -1;
  std::string out;
  std::string err;
};

/// `s` with every '@' replaced by `dir`, so argument tables can name files in a test's directory.
inline std::string expand_at(const std::string& s, const fs::path& dir) {
  std::string out;
  for (char c : s) out += c == '@' ? dir.string() : std::string(1, c);
  return out;
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

/// Runs the built binary with `args` (and optional environment assignments put before it), capturing
/// both streams through files in `scratch`.
inline RunResult run_quorlen(const std::vector<std::string>& args, const TempDir& scratch,
                             const std::string& env = "") {
  static int counter = 0;
  // Strings are appended piecewise: GCC 12 misreports "literal" + std::string as an overlapping copy.
  std::string id = std::to_string(counter++);
  id += ".txt";
  std::string out = scratch / "stdout-";
  out += id;
  std::string err = scratch / "stderr-";
  err += id;
  std::string command = env.empty() ? "" : env + " ";
  command += shell_quote(QUORLEN_BIN);
  for (const auto& a : args) {
    command += ' ';
    command += shell_quote(a);
  }
  command += " >";
  command += shell_quote(out);
  command += " 2>";
  command += shell_quote(err);
  command += " </dev/null";
  const int status = std::system(command.c_str());
  RunResult r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = slurp(out);
  r.err = slurp(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return r;
}

/// One layer to write: channel names and a function giving each pixel's values.
struct Layer {
  std::vector<std::string> channels;
  std::vector<float> pixels;  // width * height * channels.size(), rows from the top
};

/// A layer of `n` channels holding the same values at every pixel.
inline Layer constant_layer(std::vector<std::string> channels, std::vector<float> value, int width,
                            int height) {
  Layer layer{std::move(channels), {}};
  for (int i = 0; i < width * height; ++i)
    layer.pixels.insert(layer.pixels.end(), value.begin(), value.end());
  return layer;
}

/// A three-channel layer with the given pixel values, rows from the top.
inline Layer pixels_layer(std::vector<std::string> channels,
                          const std::vector<std::array<float, 3>>& values) {
  Layer layer{std::move(channels), {}};
  for (const auto& v : values) layer.pixels.insert(layer.pixels.end(), v.begin(), v.end());
  return layer;
}

/// Writes one image (one part) holding all `layers`' channels, in the given order, as 32-bit float.
inline void write_image(const std::string& path, int width, int height, const std::vector<Layer>& layers,
                        int x = 0, int y = 0, int full_width = 0, int full_height = 0) {
  std::vector<std::string> names;
  for (const auto& l : layers) names.insert(names.end(), l.channels.begin(), l.channels.end());
  const int n = static_cast<int>(names.size());
  OIIO::ImageSpec spec(width, height, n, OIIO::TypeFloat);
  spec.channelnames = names;
  spec.x = x;
  spec.y = y;
  spec.full_width = full_width ? full_width : width;
  spec.full_height = full_height ? full_height : height;
  std::vector<float> data(static_cast<std::size_t>(width * height * n));
  int c0 = 0;
  for (const auto& l : layers) {
    const int lc = static_cast<int>(l.channels.size());
    for (int p = 0; p < width * height; ++p)
      for (int k = 0; k < lc; ++k)
        data[static_cast<std::size_t>(p * n + c0 + k)] = l.pixels[static_cast<std::size_t>(p * lc + k)];
    c0 += lc;
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << OIIO::geterror();
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeFloat, data.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

/// Writes a multi-part EXR: one part per (part name, layer).
inline void write_multipart(const std::string& path, int width, int height,
                            const std::vector<std::pair<std::string, Layer>>& parts) {
  std::vector<OIIO::ImageSpec> specs;
  for (const auto& [name, layer] : parts) {
    OIIO::ImageSpec spec(width, height, static_cast<int>(layer.channels.size()), OIIO::TypeFloat);
    spec.channelnames = layer.channels;
    spec.attribute("oiio:subimagename", name);
    specs.push_back(spec);
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out);
  ASSERT_TRUE(out->supports("multiimage"));
  ASSERT_TRUE(out->open(path, static_cast<int>(specs.size()), specs.data())) << out->geterror();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      ASSERT_TRUE(out->open(path, specs[i], OIIO::ImageOutput::AppendSubimage)) << out->geterror();
    }
    ASSERT_TRUE(out->write_image(OIIO::TypeFloat, parts[i].second.pixels.data())) << out->geterror();
  }
  ASSERT_TRUE(out->close());
}

/// A file read back: its ImageSpec and every channel as float.
struct ReadImage {
  OIIO::ImageSpec spec;
  std::vector<float> pixels;

  int channel(const std::string& name) const { return spec.channelindex(name); }
  float at(int x, int y, int c) const {
    return pixels[static_cast<std::size_t>(((y - spec.y) * spec.width + (x - spec.x)) * spec.nchannels + c)];
  }
};

/// Reads an image (its first part) as float.
inline ReadImage read_image(const std::string& path) {
  ReadImage image;
  auto in = OIIO::ImageInput::open(path);
  EXPECT_TRUE(in) << OIIO::geterror();
  if (!in) return image;
  image.spec = in->spec();
  image.pixels.resize(image.spec.image_pixels() * static_cast<std::size_t>(image.spec.nchannels));
  EXPECT_TRUE(in->read_image(0, 0, 0, image.spec.nchannels, OIIO::TypeFloat, image.pixels.data()))
      << in->geterror();
  return image;
}

/// The 8-bit codes of an 8-bit image.
inline std::vector<unsigned char> read_bytes(const std::string& path, OIIO::ImageSpec& spec) {
  auto in = OIIO::ImageInput::open(path);
  EXPECT_TRUE(in) << OIIO::geterror();
  if (!in) return {};
  spec = in->spec();
  std::vector<unsigned char> bytes(spec.image_pixels() * static_cast<std::size_t>(spec.nchannels));
  EXPECT_TRUE(in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeUInt8, bytes.data()));
  return bytes;
}

/// Whether `text` contains `part`, for readable assertions.
inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace quorlen::hosting_test
