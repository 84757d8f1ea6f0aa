/// \file verbose.h  What `--verbose` adds on stderr: which module files were loaded.
#pragma once

#include <cstdio>
#include <string>

namespace quorlen::cli {

/// Prints the operator's module `module_path` and the host layer library loaded, with its version.
void report_modules(const std::string& module_path, std::FILE* out);

/// Prints the image library module once, the first time it is found loaded.
void report_image_module(std::FILE* out);

}  // namespace quorlen::cli
