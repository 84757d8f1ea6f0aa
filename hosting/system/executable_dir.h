/// \file executable_dir.h  Where the running program is, so installed modules are found beside it.
#pragma once

#include <string>

namespace quorlen::hosting {

/// The directory of the running executable; "" when the system cannot say. After set_executable_dir, the
/// directory given there.
std::string executable_dir();

/// For a host that is a library loaded into someone else's program (the Python module): the directory
/// its install layout keeps executables in, from which installed modules are found as the command finds
/// them. Called once, before any search.
void set_executable_dir(std::string dir);

}  // namespace quorlen::hosting
