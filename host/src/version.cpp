/// \file version.cpp  The marker of the loaded layer.
#include "DDImage/Version.h"

namespace DD::Image {

int loaded_abi_version() { return kAbiVersion; }

}  // namespace DD::Image
