/// \file command.h  What every command's builder shares: the options of the whole program, the module
/// loaded on demand and the warning sink.
#pragma once

#include <quorlen/node.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DDImage/Op.h"

namespace quorlen::cli {

/// The options before the command, and what the commands do with them.
struct Program {
  std::optional<std::string> plugin_path;
  bool verbose = false;
  bool quiet = false;  ///< set by commands that take -q
  /// Prints a one-line warning unless quiet.
  void warn(const std::string& message) const;
  /// Loads the operator's module (reporting it with --verbose); throws a module error.
  const DD::Image::Op::Description& load() const;
};

/// A command: its parser, and what runs when the command line names it.
struct Command {
  CLI::App* app = nullptr;
  std::function<void(const Program&)> run;
  /// Checks the parsed command line as `run` does before it loads the module (render only; may be empty).
  std::function<void()> check = {};
};

/// --set and --settings, as render, view and knobs declare them.
struct SettingsOptions {
  std::vector<std::string> sets;
  std::optional<std::string> file;
  void add_to(CLI::App& app);
  /// The settings, each --set parsed; throws a usage error for one without '='.
  hosting::NodeSettings settings() const;
};

Command add_render_command(CLI::App& app);
Command add_knobs_command(CLI::App& app);
Command add_view_command(CLI::App& app);
Command add_demo_command(CLI::App& app);
Command add_farm_command(CLI::App& app);

}  // namespace quorlen::cli
