/// \file knobs_command.cpp  Printing the panel as a table or as JSON.
#include "cli/knobs_command.h"

#include <fmt/format.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"

namespace quorlen::cli {

void run_knobs(const DD::Image::Op::Description& description, const hosting::NodeSettings& settings,
               bool json, std::ostream& out) {
  hosting::Node node(description);
  node.apply(settings);
  if (json) {
    // Texts come from the module; bytes that are not UTF-8 are replaced rather than failing the listing.
    out << node.panel().dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }
  const std::vector<std::string> header = {"label", "name", "value", "range", "accepts", "available"};
  std::vector<std::vector<std::string>> rows;
  for (const auto& k : node.knob_rows())
    rows.push_back({k.label, k.name, k.value, k.range, k.accepts, k.available ? "yes" : "no"});
  std::vector<std::size_t> widths(header.size());
  for (std::size_t c = 0; c < header.size(); ++c) {
    widths[c] = header[c].size();
    for (const auto& row : rows) widths[c] = std::max(widths[c], row[c].size());
  }
  const auto print_row = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? fmt::format("{:<{}}  ", row[c], widths[c]) : row[c];
    out << line << '\n';
  };
  print_row(header);
  for (const auto& row : rows) print_row(row);
}

Command add_knobs_command(CLI::App& app) {
  struct Options {
    SettingsOptions settings;
    bool json = false;
    double frame = 0;
  };
  auto o = std::make_shared<Options>();
  CLI::App* knobs = app.add_subcommand("knobs", "Show the operator's knobs after applying settings");
  knobs->fallthrough();
  o->settings.add_to(*knobs);
  knobs->add_flag("--json", o->json, "Print the panel as JSON");
  knobs->add_option("--frame", o->frame, "Show the values of animated settings at this frame (default 0)")
      ->type_name("N")
      ->check(frame_number());
  return {knobs, [o](const Program& program) {
            hosting::NodeSettings settings = o->settings.settings();
            settings.frame = o->frame;
            run_knobs(program.load(), settings, o->json, std::cout);
          }};
}

}  // namespace quorlen::cli
