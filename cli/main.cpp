/// \file main.cpp  `quorlen`: the program's options and its commands wired together; each command's options
/// and work live in its own file.
#include <fmt/format.h>
#include <quorlen/colour.h>
#include <quorlen/errors.h>
#include <quorlen/interrupt.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DDImage/Version.h"
#include "cli/command.h"
#include "cli/exit_codes.h"
#include "cli/messages.h"
#include "text/strings.h"

namespace {

using namespace quorlen::cli;

int fail(int code, const std::string& message) {
  std::fflush(stdout);
  // Names read from files may hold control bytes; the message stays one line whatever they are.
  std::fprintf(stderr, "quorlen: error: %s\n",
               quorlen::text::escape_controls(quorlen::text::one_line(message)).c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quorlen: relights rendered images from their colour, normal and position passes"};
  app.name("quorlen");
  app.require_subcommand(1);
  Program program;
  app.add_option(
         "--plugin-path", program.plugin_path,
         "Directory holding the plug-in module Quorlen.so, searched before QUORLEN_PLUGIN_PATH and the "
         "installation's own plug-in directory")
      ->type_name("DIR");
  // With -v the version also says which colour config a command would use.
  const bool verbose_version = std::any_of(argv + 1, argv + argc, [](const char* a) {
    return std::string_view(a) == "-v" || std::string_view(a) == "--verbose";
  });
  app.set_version_flag(
      "-V,--version",
      [verbose_version] {
        std::string version =
            fmt::format("quorlen {} (host layer {})", QUORLEN_VERSION, DD::Image::kAbiVersion);
        if (verbose_version) version += "\n" + quorlen::hosting::colour_versions();
        return version;
      },
      "Print the version (with -v, the colour config in use) and exit");
  app.footer(
      "Exit codes: 0 success, 1 bad usage or input, 2 plug-in not loadable, 3 render or write failure, "
      "130 interrupted.\nRun 'quorlen help COMMAND' for a command's options.");
  app.add_flag("-v,--verbose", program.verbose,
               "Print the modules loaded, the inputs of each frame and the time each frame took, on stderr");

  const std::vector<Command> commands = {add_render_command(app), add_knobs_command(app),
                                         add_view_command(app), add_demo_command(app), add_farm_command(app)};
  std::optional<std::string> help_command;
  CLI::App* help = app.add_subcommand("help", "Print the usage of quorlen or of one command");
  help->add_option("COMMAND", help_command, "The command to describe");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help and --version
  } catch (const CLI::ParseError& e) {
    return fail(kExitUsage, usage_message(app, e, std::vector<std::string>(argv + 1, argv + argc)));
  }

  quorlen::hosting::install_interrupt_handlers();
  // A write past a file-size limit then fails as a write error, which removes the unfinished file, instead of
  // killing the process with it in place.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    if (help->parsed()) print_help(app, help_command, std::cout);
    for (const Command& command : commands)
      if (command.app->parsed()) command.run(program);
  } catch (const quorlen::hosting::Error& e) {
    // A call cut short by the signal fails in its own words; the cause is the interrupt.
    if (quorlen::hosting::interrupted())
      return fail(kExitInterrupted, "interrupted; unfinished output removed");
    return fail(exit_code(e.kind()), e.what());
  } catch (const std::bad_alloc&) {
    return fail(kExitOutput, "out of memory");
  } catch (const std::exception& e) {
    return fail(kExitOutput, e.what());
  }
  std::cout.flush();
  if (!std::cout) return fail(kExitOutput, "cannot write to standard output");
  return kExitOk;
}
