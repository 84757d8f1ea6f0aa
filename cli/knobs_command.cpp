/// \file knobs_command.cpp  Printing the panel as a table or as JSON.
#include "cli/knobs_command.h"

#include <fmt/format.h>
#include <quorlen/rig.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"

namespace quorlen::cli {
namespace {

void print_table(const std::vector<std::string>& header, const std::vector<std::vector<std::string>>& rows,
                 std::ostream& out) {
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

// A rig's knobs side by side: the value every light starts from, and each light's, marked * where the
// light sets its own.
void run_rig_knobs(const DD::Image::Op::Description& description, const hosting::RigFile& rig,
                   const hosting::NodeSettings& settings, bool json, std::ostream& out) {
  auto lights = hosting::light_nodes(description, rig, settings.sets, settings.frame);
  hosting::RigFile shared_only = rig;
  shared_only.lights.clear();
  std::vector<hosting::KnobSetting> plain;
  for (const auto& s : settings.sets)
    if (!hosting::light_setting(rig, s).light) plain.push_back(s);
  auto shared = hosting::light_nodes(description, shared_only, plain, settings.frame);
  hosting::Node& base = *shared.front().node;
  if (json) {
    nlohmann::json doc = {{"shared", base.settings()}, {"lights", nlohmann::json::array()}};
    for (auto& l : lights) {
      nlohmann::json entry = {{"name", l.name}, {"mute", l.light->mute}, {"panel", l.node->panel()}};
      if (l.light->mask) entry["mask"] = *l.light->mask;
      doc["lights"].push_back(std::move(entry));
    }
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }
  std::vector<std::string> header = {"name", "shared"};
  for (const auto& l : lights) header.push_back(l.name + (l.light->mute ? " (muted)" : ""));
  std::vector<std::vector<std::string>> rows;
  for (const auto& k : base.knob_rows()) {
    std::vector<std::string> row = {k.name, k.value};
    for (auto& l : lights) {
      const std::string value = l.node->value_text(k.name);
      row.push_back(value == k.value ? value : value + " *");
    }
    rows.push_back(std::move(row));
  }
  print_table(header, rows, out);
}

}  // namespace

void run_knobs(const DD::Image::Op::Description& description, const hosting::NodeSettings& settings,
               bool json, std::ostream& out) {
  if (const hosting::RigFile rig = hosting::rig_of(settings); rig.is_rig()) {
    run_rig_knobs(description, rig, settings, json, out);
    return;
  }
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
  print_table(header, rows, out);
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
