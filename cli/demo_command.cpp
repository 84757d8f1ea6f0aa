/// \file demo_command.cpp  `quorlen demo`'s options.
#include "demo/demo_command.h"

#include <climits>
#include <iostream>
#include <memory>

#include "cli/arguments.h"
#include "cli/command.h"

namespace quorlen::cli {

Command add_demo_command(CLI::App& app) {
  struct Options {
    std::string dir = "demo-out";
    int threads = 0;
  };
  auto o = std::make_shared<Options>();
  CLI::App* demo = app.add_subcommand(
      "demo", "Render the built-in demo scene: passes, relit previews and a contact sheet");
  demo->fallthrough();
  demo->add_option("-o,--output", o->dir, "Directory for the demo's files (created if missing)")
      ->capture_default_str()
      ->type_name("DIR");
  demo->add_option("--threads", o->threads, "Worker threads (default: all cores)")
      ->type_name("N")
      ->check(whole_number(0, INT_MAX, "0: all cores"));
  return {demo, [o](const Program& program) {
            const int threads = usable_threads(o->threads, available_cores(),
                                               [&program](const std::string& w) { program.warn(w); });
            demo::run_demo(program.load(), o->dir, threads, std::cout, std::cerr);
          }};
}

}  // namespace quorlen::cli
