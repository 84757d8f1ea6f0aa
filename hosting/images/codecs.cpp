/// \file codecs.cpp  EXR in-process, every other format through the module, loaded when first needed.
#include "hosting/images/codecs.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <quorlen/module.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "hosting/images/declared_lengths.h"
#include "hosting/images/exr/exr_decoder.h"
#include "hosting/images/exr/exr_encoder.h"
#include "hosting/loader/elf_check.h"

namespace quorlen::hosting {
namespace {

namespace fs = std::filesystem;

std::atomic<int> requested_threads{0};
std::atomic<const ImageLibrary*> loaded_library{nullptr};
std::atomic<const std::string*> loaded_path{nullptr};

std::vector<std::string> module_candidates() {
  // A module named in the environment is the only one tried.
  if (const char* chosen = std::getenv("QUORLEN_IMAGE_MODULE"); chosen && *chosen) return {chosen};
  std::vector<std::string> out;
  if (const std::string exe = executable_dir(); !exe.empty())
    out.push_back(
        (fs::path(exe) / ".." / QUORLEN_IMAGE_MODULE_SUBDIR / kImageModuleFileName).lexically_normal());
  out.push_back((fs::path(QUORLEN_BUILD_IMAGE_MODULE_DIR) / kImageModuleFileName).string());
  return out;
}

struct Loaded {
  const ImageLibrary* library = nullptr;
  std::string error;
  std::string path = {};
};

Loaded load() {
  std::string tried;
  for (const auto& path : module_candidates()) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      tried += (tried.empty() ? "" : ", ") + path;
      continue;
    }
    if (const std::string problem = elf_module_problem(path); !problem.empty())
      return {nullptr, fmt::format("cannot load the image library module \"{}\": {}", path, problem)};
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      return {nullptr,
              fmt::format("cannot load the image library module \"{}\": {}", path, why ? why : "unknown")};
    }
    const auto entry = reinterpret_cast<ImageLibraryEntry>(dlsym(handle, kImageLibraryEntry));
    if (!entry) return {nullptr, fmt::format("\"{}\" is not the image library module", path)};
    return {entry(), {}, path};
  }
  return {nullptr,
          fmt::format("the image library module was not found (looked for {}); only EXR files can be "
                      "read and written without it",
                      tried)};
}

}  // namespace

const ImageLibrary& image_library() {
  static const Loaded loaded = [] {
    Loaded l = load();
    if (l.library) {
      l.library->set_threads(requested_threads.load());
      loaded_library.store(l.library);
    }
    return l;
  }();
  if (!loaded.library) throw codec_error(loaded.error);
  loaded_path.store(&loaded.path);
  return *loaded.library;
}

std::string loaded_image_module() {
  const std::string* path = loaded_path.load();
  return path ? *path : std::string();
}

void set_library_threads(int threads) {
  requested_threads.store(threads);
  // Only a library already loaded needs telling; loading it for this alone would defeat loading it late.
  if (const ImageLibrary* library = loaded_library.load()) library->set_threads(threads);
}

std::unique_ptr<ImageDecoder> open_image(const std::string& path) {
  if (is_exr_file(path)) return open_exr(path);
  if (std::string problem = png_chunks_problem(path); !problem.empty()) throw codec_error(problem);
  return image_library().open(path);
}

std::string output_format(const std::string& path) {
  if (has_exr_extension(path)) return "openexr";
  return image_library().writer_format(path);
}

std::unique_ptr<ImageEncoder> create_image(const std::string& path, const std::string& file,
                                           const EncoderSpec& spec) {
  if (has_exr_extension(path)) return create_exr(file, spec);
  return image_library().create(path, file, spec);
}

}  // namespace quorlen::hosting
