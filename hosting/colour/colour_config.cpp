/// \file colour_config.cpp  The OpenColorIO config in use: found, loaded once, described, and its names
/// checked.
#include "hosting/colour/colour_config.h"

#include <fmt/format.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/inputs.h>
#include <quorlen/module.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "text/strings.h"

namespace quorlen::hosting {
namespace {

namespace fs = std::filesystem;

struct Chosen {
  std::string path;
  ColourConfigSource source;
};

struct Loaded {
  std::string path;  ///< the file these were read from
  OCIO::ConstConfigRcPtr config;
  ColourConfigInfo info;
};

std::mutex config_mutex;
std::optional<std::string> chosen_path;
std::shared_ptr<const Loaded> loaded;

std::string shipped_config_path() {
  // Installed beside the command (as the image module is); else the build tree's copy.
  if (const std::string exe = executable_dir(); !exe.empty()) {
    const fs::path installed =
        (fs::path(exe) / ".." / QUORLEN_COLOUR_CONFIG_SUBDIR / kShippedConfigName).lexically_normal();
    std::error_code ec;
    if (fs::exists(installed, ec)) return installed.string();
  }
  return (fs::path(QUORLEN_BUILD_COLOUR_CONFIG_DIR) / kShippedConfigName).string();
}

Chosen choice_locked() {
  if (chosen_path) return {*chosen_path, ColourConfigSource::option};
  if (const char* env = std::getenv("OCIO"); env && *env) return {env, ColourConfigSource::environment};
  return {shipped_config_path(), ColourConfigSource::shipped};
}

std::string source_words(ColourConfigSource source) {
  switch (source) {
    case ColourConfigSource::option:
      return "chosen";
    case ColourConfigSource::environment:
      return "from $OCIO";
    case ColourConfigSource::shipped:
      return "Quorlen's default";
  }
  return "";
}

ColourConfigInfo describe(const OCIO::Config& config, const Chosen& chosen) {
  ColourConfigInfo info;
  info.path = chosen.path;
  info.source = chosen.source;
  info.name = config.getName();
  const auto working = config.getColorSpace(OCIO::ROLE_SCENE_LINEAR);
  if (!working) throw input_error(fmt::format("colour config \"{}\" has no scene_linear role", chosen.path));
  info.working_space = working->getName();
  for (int i = 0; i < config.getNumColorSpaces(); ++i) {
    const std::string name = config.getColorSpaceNameByIndex(i);
    info.colour_spaces.push_back(name);
    if (config.getColorSpace(name.c_str())->isData()) info.data_spaces.push_back(name);
  }
  for (int d = 0; d < config.getNumDisplays(); ++d) {
    const char* display = config.getDisplay(d);
    std::vector<std::string> views;
    for (int v = 0; v < config.getNumViews(display); ++v) views.emplace_back(config.getView(display, v));
    info.displays.emplace_back(display, std::move(views));
  }
  for (int l = 0; l < config.getNumLooks(); ++l) info.looks.emplace_back(config.getLookNameByIndex(l));
  info.default_display = config.getDefaultDisplay();
  info.default_view = config.getDefaultView(info.default_display.c_str());
  if (info.displays.empty() || info.default_view.empty())
    throw input_error(fmt::format("colour config \"{}\" has no display with a view", chosen.path));
  return info;
}

std::shared_ptr<const Loaded> load(const Chosen& chosen) {
  std::error_code ec;
  if (!fs::is_regular_file(chosen.path, ec))
    throw input_error(fmt::format("colour config \"{}\" ({}) {}", text::escape_controls(chosen.path),
                                  source_words(chosen.source),
                                  fs::exists(chosen.path, ec) ? "is not a file" : "does not exist"));
  auto out = std::make_shared<Loaded>();
  out->path = chosen.path;
  try {
    out->config = OCIO::Config::CreateFromFile(chosen.path.c_str());
    out->config->validate();
  } catch (const OCIO::Exception& e) {
    throw input_error(fmt::format("colour config \"{}\" ({}) cannot be used: {}",
                                  text::escape_controls(chosen.path), source_words(chosen.source),
                                  text::one_line(e.what())));
  }
  out->info = describe(*out->config, chosen);
  return out;
}

std::shared_ptr<const Loaded> current() {
  std::lock_guard lock(config_mutex);
  const Chosen chosen = choice_locked();
  if (!loaded || loaded->path != chosen.path || loaded->info.source != chosen.source) loaded = load(chosen);
  return loaded;
}

[[noreturn]] void unknown(const std::string& what, const std::string& name, const std::string& kind,
                          const std::vector<std::string>& choices) {
  const std::string near = text::closest_match(name, choices);
  throw usage_error(fmt::format("{}: \"{}\" is not {} of the colour config (choices: {}){}", what,
                                text::escape_controls(name), kind, text::join(choices, ", "),
                                near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
}

}  // namespace

std::vector<std::string> look_names(const std::string& looks) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= looks.size()) {
    const std::size_t comma = std::min(looks.find(',', start), looks.size());
    if (const std::string_view one = text::trim(std::string_view(looks).substr(start, comma - start));
        !one.empty())
      out.emplace_back(one);
    start = comma + 1;
  }
  return out;
}

OCIO::ConstConfigRcPtr colour_config_in_use() { return current()->config; }

void choose_colour_config(const std::optional<std::string>& path) {
  std::lock_guard lock(config_mutex);
  chosen_path = path;
}

const ColourConfigInfo& colour_config() {
  // Loaded configs are kept for the process, so the reference stays valid after another is chosen.
  static std::mutex keep_mutex;
  static std::vector<std::shared_ptr<const Loaded>> kept;
  auto now = current();
  std::lock_guard lock(keep_mutex);
  if (kept.empty() || kept.back() != now) kept.push_back(now);
  return now->info;
}

std::string colour_config_line() {
  std::lock_guard lock(config_mutex);
  const Chosen chosen = choice_locked();
  return fmt::format("colour config: {} ({})", chosen.path, source_words(chosen.source));
}

std::string colour_versions() {
  return fmt::format("OpenColorIO {}; {}", OCIO::GetVersion(), colour_config_line());
}

DisplayView resolve_display_view(const std::optional<std::string>& display,
                                 const std::optional<std::string>& view,
                                 const std::optional<std::string>& look) {
  const ColourConfigInfo& info = colour_config();
  DisplayView out;
  std::vector<std::string> display_names;
  const std::vector<std::string>* views = nullptr;
  for (const auto& [name, its_views] : info.displays) {
    display_names.push_back(name);
    if (name == display.value_or(info.default_display)) views = &its_views;
  }
  out.display = display.value_or(info.default_display);
  if (!views) unknown("display", out.display, "a display", display_names);
  out.view = view.value_or(colour_config_in_use()->getDefaultView(out.display.c_str()));
  if (std::find(views->begin(), views->end(), out.view) == views->end())
    unknown("view", out.view, fmt::format("a view of display \"{}\"", out.display), *views);
  // Several looks may be chained with commas, as OpenColorIO allows.
  out.look = look.value_or("");
  for (const std::string& name : look_names(out.look))
    if (std::find(info.looks.begin(), info.looks.end(), name) == info.looks.end())
      unknown("look", name, "a look", info.looks);
  return out;
}

std::string colour_space_named(const std::string& name, const std::string& what) {
  const auto config = colour_config_in_use();
  if (const auto space = config->getColorSpace(name.c_str())) return space->getName();
  unknown(what, name, "a colour space", colour_config().colour_spaces);
}

bool is_data_space(const std::string& space) {
  const auto found = colour_config_in_use()->getColorSpace(space.c_str());
  return found && found->isData();
}

InputColourSpace choose_input_colour_space(const std::optional<std::string>& chosen,
                                           const std::string& metadata, const std::string& path) {
  const auto config = colour_config_in_use();
  if (chosen) return {colour_space_named(*chosen, "colour space"), "as chosen", ""};
  // Metadata the config does not know (a library's generic "Linear" in a studio config, say) is not a
  // reason to refuse the file: the rules still say how it is read.
  if (!metadata.empty())
    if (const auto space = config->getColorSpace(metadata.c_str()))
      return {space->getName(), "from the file's metadata", ""};
  return {config->getColorSpaceFromFilepath(path.c_str()), "by the config's file rules", metadata};
}

std::string input_colour_space(const std::optional<std::string>& chosen, const std::string& metadata,
                               const std::string& path) {
  return choose_input_colour_space(chosen, metadata, path).space;
}

void check_input_spaces(const std::map<std::string, std::string>& spaces, const std::string& what) {
  for (const auto& [label, space] : spaces) {
    if (input_slot_named(label) < 0) {
      const std::vector<std::string> labels(std::begin(kInputLabels), std::end(kInputLabels));
      const std::string near = text::closest_match(label, labels);
      throw usage_error(fmt::format("{}: \"{}\" is not an input (choices: {}){}", what,
                                    text::escape_controls(label), text::join(labels, ", "),
                                    near.empty() ? "" : fmt::format("; did you mean \"{}\"?", near)));
    }
    if (label != "color")
      throw usage_error(
          fmt::format("{} {}: the {} input is data and is never converted", what, label, label));
    colour_space_named(space, fmt::format("{} {}", what, label));
  }
}

std::string held_colour_space(const std::optional<std::string>& chosen, int code_bits,
                              const std::string& what) {
  if (chosen) return colour_space_named(*chosen, what);
  if (code_bits == 8 || code_bits == 16)
    return colour_config_in_use()->getColorSpaceFromFilepath("held codes.png");
  return colour_config().working_space;
}

}  // namespace quorlen::hosting
