/// \file colour.h  Colour management through an OpenColorIO config: which config is in use, its names, and
/// the names front ends pass on (input spaces here; the output's in output.h).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DDImageHost/ImageBuffer.h"

namespace quorlen::hosting {

/// Where the config in use came from.
enum class ColourConfigSource {
  option,       ///< named by the front end (--ocio-config, Python's colour_config(path))
  environment,  ///< $OCIO
  shipped,      ///< Quorlen's own, installed beside the command
};

/// What a front end shows of the config in use. Names are the config's own, in its order.
struct ColourConfigInfo {
  std::string path;
  ColourConfigSource source = ColourConfigSource::shipped;
  std::string name;           ///< the config's name field (may be empty)
  std::string working_space;  ///< the scene_linear role's colour space: renders are in it
  std::vector<std::string> colour_spaces;
  std::vector<std::string> data_spaces;  ///< the colour spaces marked as data (never converted)
  std::vector<std::pair<std::string, std::vector<std::string>>> displays;  ///< each display's views
  std::vector<std::string> looks;
  std::string default_display;
  std::string default_view;  ///< of the default display
};

/// Chooses the config for the rest of the process: `path`, else $OCIO, else the shipped config. Nothing is
/// read until the config is first needed; choosing again replaces the choice.
void choose_colour_config(const std::optional<std::string>& path);

/// The config in use, loaded on first call. Throws an input error naming the file when it is missing or
/// OpenColorIO refuses it.
const ColourConfigInfo& colour_config();

/// "colour config: PATH (from $OCIO)", without loading the config: where it would be read from.
std::string colour_config_line();

/// "OpenColorIO 2.1.2; colour config: PATH (from $OCIO)", for version reports.
std::string colour_versions();

/// A display, view and look resolved against the config: names checked, defaults filled in (look "" for
/// none).
struct DisplayView {
  std::string display;
  std::string view;
  std::string look;
  bool operator==(const DisplayView&) const = default;
};

/// The choices' display, view and look against the config in use. Throws a usage error for a name the
/// config does not hold, listing its choices and the near miss.
DisplayView resolve_display_view(const std::optional<std::string>& display,
                                 const std::optional<std::string>& view,
                                 const std::optional<std::string>& look);

/// The config's name for the colour space `name` (aliases and roles accepted). Throws a usage error naming
/// `what` (such as "--colorspace color") for one the config does not hold.
std::string colour_space_named(const std::string& name, const std::string& what);

/// True when `space` is one of the config's data spaces (read and written without conversion).
bool is_data_space(const std::string& space);

/// The space an input file is read in, and why.
struct InputColourSpace {
  std::string space;   ///< the config's name
  std::string origin;  ///< for reports: "as chosen", "from the file's metadata", "by the config's file rules"
  /// The file's own name for its space when the config does not know it (so the file rules decided).
  std::string unknown_metadata;
};

/// The space an input file is read in: `chosen` when set (a usage error when the config does not hold
/// it), else the file's own colour-space metadata when the config knows that name (or an alias of it),
/// else the config's file rules for `path`.
InputColourSpace choose_input_colour_space(const std::optional<std::string>& chosen,
                                           const std::string& metadata, const std::string& path);
/// Only the space of choose_input_colour_space().
std::string input_colour_space(const std::optional<std::string>& chosen, const std::string& metadata,
                               const std::string& path);

/// Checks input colour spaces given by input label ("color" only: the other inputs are data); throws a
/// usage error for an unknown label or space, its message starting with `what`.
void check_input_spaces(const std::map<std::string, std::string>& spaces,
                        const std::string& what = "--colorspace");

/// The space pixels held in memory are read in: `chosen` when set (a usage error naming `what` when the
/// config does not hold it); else, for integer codes (`code_bits` 8 or 16, already scaled to 0..1), the
/// config's file rules for an image file of such codes, as a PNG of them is read; else (floats) the
/// working space.
std::string held_colour_space(const std::optional<std::string>& chosen, int code_bits,
                              const std::string& what);

/// `image`'s red, green and blue (and alpha, kept) converted from `space` to the working space, in a copy;
/// `image` itself when nothing is converted (the working space or a data space). Lines are converted in
/// parallel; each pixel's result does not depend on how they are grouped.
std::shared_ptr<const DD::Image::ImageBuffer> in_working_space(
    std::shared_ptr<const DD::Image::ImageBuffer> image, const std::string& space);

}  // namespace quorlen::hosting
