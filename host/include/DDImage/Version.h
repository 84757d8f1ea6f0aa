/// \file Version.h  The host layer's ABI marker.
#pragma once

namespace DD::Image {

/// Version marker of the host layer's binary interface (release 11.0, revision 001). A module records the
/// value it was compiled against in its registration record; the layer refuses any other value, because
/// the class layouts and virtual tables of a different layer would not match.
inline constexpr int DDImage_ABI_11_0_001 = 110001;
inline constexpr int kAbiVersion = DDImage_ABI_11_0_001;

/// The marker of the layer that is actually loaded (not the one a module was compiled against).
int loaded_abi_version();

}  // namespace DD::Image
