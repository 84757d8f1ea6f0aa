/// \file colour_config.h  The OpenColorIO config in use, for the library's own conversions.
#pragma once

#include <OpenColorIO/OpenColorIO.h>

#include <string>
#include <vector>

namespace quorlen::hosting {

namespace OCIO = OCIO_NAMESPACE;

/// The shipped config's file name, in the installation's data directory and the build tree.
inline constexpr const char* kShippedConfigName = "quorlen.ocio";

/// The config chosen (see choose_colour_config), loaded on first use. Throws as colour_config() does.
OCIO::ConstConfigRcPtr colour_config_in_use();

/// The looks of a comma-separated list, trimmed, empty ones left out.
std::vector<std::string> look_names(const std::string& looks);

}  // namespace quorlen::hosting
