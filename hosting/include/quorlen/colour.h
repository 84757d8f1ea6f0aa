/// \file colour.h  Colour management through an OpenColorIO config: which config is in use, its names, and
/// the names front ends pass on (input spaces here; the output's in output.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

/// The space an input file is read in: `chosen` when set, else the file's own colour-space metadata when the
/// config knows it, else the config's file rules for `path`.
std::string input_colour_space(const std::optional<std::string>& chosen, const std::string& metadata,
                               const std::string& path);

/// Checks input colour spaces given by input label ("color" only: the other inputs are data); throws a
/// usage error for an unknown label or space.
void check_input_spaces(const std::map<std::string, std::string>& spaces);

}  // namespace quorlen::hosting
