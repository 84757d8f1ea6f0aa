/// \file operator_module.cpp  Module search, dlopen and the registry check.
#include <dlfcn.h>
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/module.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "DDImage/Version.h"
#include "DDImageHost/Registry.h"
#include "hosting/loader/elf_check.h"
#include "text/strings.h"

namespace quorlen::hosting {
namespace fs = std::filesystem;

std::vector<std::string> plugin_search_dirs(const std::optional<std::string>& cli_dir, const char* env_path) {
  std::vector<std::string> dirs;
  const auto add = [&](const std::string& dir) {
    if (!dir.empty() && std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
  };
  if (cli_dir) add(*cli_dir);
  if (env_path) {
    std::string_view rest(env_path);
    while (true) {
      const std::size_t colon = rest.find(':');
      add(std::string(rest.substr(0, colon)));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  if (const std::string exe = executable_dir(); !exe.empty())
    add((fs::path(exe) / ".." / QUORLEN_PLUGIN_SUBDIR).lexically_normal().string());
  add(QUORLEN_BUILD_PLUGIN_DIR);
  return dirs;
}

std::optional<std::string> find_module(const std::vector<std::string>& dirs) {
  std::error_code ec;
  for (const auto& dir : dirs) {
    if (fs::is_regular_file(dir, ec)) return dir;
    const fs::path candidate = fs::path(dir) / kModuleFileName;
    if (fs::exists(candidate, ec)) return candidate.string();
  }
  return std::nullopt;
}

const DD::Image::Op::Description& load_module(const std::string& path) {
  if (DD::Image::loaded_abi_version() != DD::Image::kAbiVersion)
    throw module_error(
        fmt::format("host layer version mismatch: quorlen was built for {}, the loaded libddimage is {}",
                    DD::Image::kAbiVersion, DD::Image::loaded_abi_version()));
  if (const std::string problem = elf_module_problem(path); !problem.empty())
    throw module_error(fmt::format("cannot load plug-in \"{}\": {}", path, problem));
  // A relative path without a slash would make dlopen search the library path instead.
  const std::string target = path.find('/') == std::string::npos ? "./" + path : path;
  // A module loaded before registered its records then; loading it again registers nothing new.
  if (void* loaded = dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
    dlclose(loaded);
    if (const auto* d = DD::Image::find_description(kOperatorClass)) return *d;
    throw module_error(fmt::format("plug-in \"{}\" registered no \"{}\" operator", path, kOperatorClass));
  }
  DD::Image::take_registration_errors();  // only this module's refusals matter
  const auto before = DD::Image::registered_descriptions();
  if (!dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    const char* why = dlerror();
    throw module_error(fmt::format("cannot load plug-in \"{}\": {}", path, why ? why : "unknown error"));
  }
  const auto refused = DD::Image::take_registration_errors();
  // Only a record this module added counts; one of the same name from another module does not.
  for (const auto* d : DD::Image::registered_descriptions())
    if (std::string_view(d->name()) == kOperatorClass &&
        std::find(before.begin(), before.end(), d) == before.end())
      return *d;
  if (!refused.empty())
    throw module_error(fmt::format("plug-in \"{}\" registered no \"{}\" operator: {}", path, kOperatorClass,
                                   refused.front()));
  throw module_error(fmt::format("plug-in \"{}\" registered no \"{}\" operator", path, kOperatorClass));
}

const DD::Image::Op::Description& load_operator(const std::optional<std::string>& cli_dir,
                                                std::string* module_path) {
  std::error_code ec;
  if (cli_dir && !fs::exists(*cli_dir, ec))
    throw module_error(fmt::format("--plugin-path \"{}\" does not exist", *cli_dir));
  const auto dirs = plugin_search_dirs(cli_dir, std::getenv("QUORLEN_PLUGIN_PATH"));
  const auto module = find_module(dirs);
  if (!module)
    throw module_error(fmt::format(
        "plug-in module {} not found (searched {}); use --plugin-path DIR or set QUORLEN_PLUGIN_PATH",
        kModuleFileName, text::join(dirs)));
  if (module_path) *module_path = *module;
  return load_module(*module);
}

}  // namespace quorlen::hosting
