/// \file view_command.h  `quorlen view`: the inputs decoded once, relit interactively in a browser.
#pragma once

#include <quorlen/render.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::viewer {

/// What `quorlen view` was asked for.
struct ViewRequest {
  /// The inputs, settings, light space and normal encoding, as a render reads them (output unused).
  hosting::RenderRequest render;
  std::optional<std::string> output;  ///< -o: where "Render" writes
  std::optional<std::string> save;    ///< --save: where "Save" writes the settings
  std::uint16_t port = 0;             ///< 0: a free port the system chooses
  std::optional<int> frame;           ///< --frame: the frame to open at (default: the shot's first, or 0)
  bool open_browser = true;
  /// The command line's input options, repeated in the render command the page offers.
  std::vector<std::string> input_arguments;
};

/// Reads the inputs, starts the server, prints "quorlen: viewing at URL" as the first line of `out`, opens
/// the browser unless asked not to and serves until SIGINT or SIGTERM. Warnings go to `warn`. Throws
/// Error when the inputs, settings or paths are refused or the port cannot be had.
void run_view(const ViewRequest& request, const DD::Image::Op::Description& description, std::ostream& out,
              const std::function<void(const std::string&)>& warn);

}  // namespace quorlen::viewer
