/// \file web_assets.h  The page's files, embedded in the program when it is built.
#pragma once

#include <string_view>

namespace quorlen::viewer {

struct WebAsset {
  std::string_view path;  ///< "/viewer.js"
  std::string_view type;  ///< the Content-Type
  std::string_view bytes;
};

/// The file served at `path`, or null.
const WebAsset* find_web_asset(std::string_view path);

}  // namespace quorlen::viewer
