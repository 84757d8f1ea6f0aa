/// \file messages.cpp  Translating the parser's refusals into messages that name the option and the fix.
#include "cli/messages.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

#include <algorithm>

#include "text/strings.h"

namespace quorlen::cli {
namespace {

std::vector<std::string> command_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
    names.push_back(sub->get_name());
  return names;
}

// Every spelling of the options of `app`: "--name" and "-n".
std::vector<std::string> option_names(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* opt : app.get_options()) {
    for (const auto& l : opt->get_lnames()) names.push_back("--" + l);
    for (const auto& s : opt->get_snames()) names.push_back("-" + s);
  }
  return names;
}

bool looks_like_option(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return false;
  // A negative number is a value, not an option.
  return !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

std::string suggestion(const std::string& name, const std::vector<std::string>& candidates) {
  const std::string near = text::closest_match(name, candidates);
  return near.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", near);
}

std::string command_list(const CLI::App& app) { return text::join(command_names(app)); }

std::string unknown_option(const CLI::App& app, const CLI::App* command, const std::string& arg) {
  const std::string name = arg.substr(0, arg.find('='));
  std::vector<std::string> known = option_names(app);
  // An option of a command given before the command.
  for (const std::string& c : command_names(app)) {
    const auto own = option_names(*app.get_subcommand(c));
    if (std::find(own.begin(), own.end(), name) != own.end() && !(command && command->get_name() != c))
      return fmt::format("option \"{}\" belongs to a command and goes after it: quorlen {} {} ...", name, c,
                         name);
  }
  if (command) {
    const auto own = option_names(*command);
    known.insert(known.end(), own.begin(), own.end());
    return fmt::format("unknown option \"{}\" for 'quorlen {}'{}; run 'quorlen help {}' for its options",
                       name, command->get_name(), suggestion(name, known), command->get_name());
  }
  return fmt::format("unknown option \"{}\"{}; run 'quorlen --help' for the options", name,
                     suggestion(name, known));
}

}  // namespace

std::string usage_message(const CLI::App& app, const CLI::ParseError& error,
                          const std::vector<std::string>& all_args) {
  // What follows "--" is another command's arguments (farm's render), left unread when the parser stops
  // early.
  const std::vector<std::string> args(all_args.begin(), std::find(all_args.begin(), all_args.end(), "--"));
  const CLI::App* command = nullptr;
  for (const CLI::App* sub : app.get_subcommands()) command = sub;

  // What the parser could not place, in the order it was typed.
  std::vector<std::string> left = app.remaining();
  if (command) {
    const auto more = command->remaining();
    left.insert(left.end(), more.begin(), more.end());
  }
  // Without a command, a mistyped command explains the rest, so it is named first.
  for (const std::string& arg : args) {
    if (std::find(left.begin(), left.end(), arg) == left.end()) continue;
    if (looks_like_option(arg) && command) return unknown_option(app, command, arg);
  }
  for (const std::string& arg : args) {
    if (std::find(left.begin(), left.end(), arg) == left.end() || looks_like_option(arg)) continue;
    if (!command) {
      const std::string near = text::closest_match(arg, command_names(app));
      return fmt::format("unknown command \"{}\"{}; the commands are {}", arg,
                         near.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", near), command_list(app));
    }
    return fmt::format("unexpected argument \"{}\" for 'quorlen {}'; run 'quorlen help {}' for its options",
                       arg, command->get_name(), command->get_name());
  }
  for (const std::string& arg : args)
    if (std::find(left.begin(), left.end(), arg) != left.end()) return unknown_option(app, command, arg);
  if (!command && error.get_name() == "RequiredError")
    return fmt::format("no command given; the commands are {} (run 'quorlen help COMMAND' for one's options)",
                       command_list(app));
  if (error.get_name() == "ArgumentMismatch") {
    // The parser says "--threads: 1 required N missing".
    const std::string what = error.what();
    const std::size_t colon = what.find(": ");
    const std::size_t required = what.find(" required ");
    const std::size_t missing = what.rfind(" missing");
    if (colon != std::string::npos && required != std::string::npos && missing != std::string::npos &&
        required < missing)
      return fmt::format("{} needs a value ({})", what.substr(0, colon),
                         what.substr(required + 10, missing - required - 10));
  }
  const std::string hint = command ? fmt::format("run 'quorlen help {}' for its options", command->get_name())
                                   : std::string("run 'quorlen --help' for usage");
  return fmt::format("{} ({})", error.what(), hint);
}

void print_help(const CLI::App& app, const std::optional<std::string>& command, std::ostream& out) {
  if (!command || command->empty()) {
    // app.help() would describe the selected command, which is `help` itself.
    out << app.get_formatter()->make_help(&app, app.get_name(), CLI::AppFormatMode::Normal);
    return;
  }
  const auto names = command_names(app);
  if (std::find(names.begin(), names.end(), *command) == names.end()) {
    const std::string near = text::closest_match(*command, names);
    throw hosting::usage_error(fmt::format("help: unknown command \"{}\"{}; the commands are {}", *command,
                                           near.empty() ? "" : fmt::format(" (did you mean \"{}\"?)", near),
                                           command_list(app)));
  }
  out << app.get_subcommand(*command)->help(app.get_name());
}

}  // namespace quorlen::cli
