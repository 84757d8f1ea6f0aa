/// \file module.h  Finding and loading the operator's module, as a host does.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::hosting {

/// File name of the module.
inline constexpr const char* kModuleFileName = "Quorlen.so";
/// Class the module must register.
inline constexpr const char* kOperatorClass = "Quorlen";

/// Directories searched for the module, in order: `cli_dir` (--plugin-path), the directories of
/// `env_path` (QUORLEN_PLUGIN_PATH, colon-separated, empty entries skipped), then the install layout's
/// plug-in directory beside the executable and the build tree's. Duplicates are dropped.
std::vector<std::string> plugin_search_dirs(const std::optional<std::string>& cli_dir, const char* env_path);

/// The first existing module file in `dirs` (an entry naming a file is taken as the module itself).
std::optional<std::string> find_module(const std::vector<std::string>& dirs);

/// Loads the module at `path` and returns the registration record of its operator. Throws a plug-in
/// error (exit code 2) when the file is not a whole shared object for this machine (checked before it is
/// mapped, see elf_check.h), when the module cannot be loaded, registered nothing usable, or the loaded host
/// layer is not the one this program was built against.
const DD::Image::Op::Description& load_module(const std::string& path);

/// Searches (plugin_search_dirs with the real environment) and loads; throws a plug-in error naming the
/// searched directories when there is no module. Sets `module_path`, when given, to the file loaded.
const DD::Image::Op::Description& load_operator(const std::optional<std::string>& cli_dir,
                                                std::string* module_path = nullptr);

/// The path of the image library module (every format but EXR) if it has been loaded, else "".
std::string loaded_image_module();

/// Where the host program stands for install-relative searches: the executable's directory, or the one a
/// host that is a library names (such as the Python module).
std::string executable_dir();
void set_executable_dir(std::string dir);

}  // namespace quorlen::hosting
