/// \file executable_dir.h  Where the running program is, so installed modules are found beside it.
#pragma once

#include <string>

namespace quorlen::hosting {

/// The directory of the running executable; "" when the system cannot say.
std::string executable_dir();

}  // namespace quorlen::hosting
