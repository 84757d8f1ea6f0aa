/// \file messages.h  One line for every command line the parser refuses, and `quorlen help COMMAND`.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quorlen::cli {

/// The message (without the "quorlen: error: " tag) for the command line `args` (without the program name)
/// that `app` refused with `error`: an unknown command or option named as typed, with the nearest known one
/// when it is a near miss; a missing command with the commands there are; otherwise the parser's words.
std::string usage_message(const CLI::App& app, const CLI::ParseError& error,
                          const std::vector<std::string>& args);

/// `quorlen help [COMMAND]`: prints the usage of `app` or of its command `command` to `out`. Throws a usage
/// error for a command that does not exist, suggesting the nearest one.
void print_help(const CLI::App& app, const std::optional<std::string>& command, std::ostream& out);

}  // namespace quorlen::cli
