/// \file elf_check.h  Checking a module file before dlopen maps it.
#pragma once

#include <string>

namespace quorlen::hosting {

/// Why the file at `path` cannot be loaded as a shared object for this machine, or "" when it can as far as
/// its headers tell: it must be an ELF shared object of this machine's class, byte order and architecture,
/// and hold every byte of every loadable segment its program headers declare. dlopen maps segments without
/// checking them against the file's length, so a truncated module would otherwise end the process with
/// SIGBUS on its first touch of a missing page.
std::string elf_module_problem(const std::string& path);

}  // namespace quorlen::hosting
