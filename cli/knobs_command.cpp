/// \file knobs_command.cpp  Printing the panel as a table or as JSON.
#include "cli/knobs_command.h"

#include <fmt/format.h>
#include <fmt/ostream.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DDImageHost/KnobAccess.h"
#include "hosting/node/node.h"
#include "text/strings.h"

namespace quorlen::cli {

using namespace quorlen::hosting;
namespace {

std::string range_text(const DD::Image::Knob& k) {
  if (!k.has_range()) return "";
  return fmt::format("{:g} to {:g}", k.range_min(), k.range_max());
}

// What the value may be, for the table: the entries of a choice, else the kind.
std::string forms_text(const DD::Image::Knob& k) {
  const auto entries = k.entries();
  const std::string joined = text::join(entries, k.store() == DD::Image::Bitmask_Store ? "|" : ", ");
  switch (k.store()) {
    case DD::Image::Enumeration_Store:
      return "one of " + joined;
    case DD::Image::Bitmask_Store:
      return "any of " + joined;
    case DD::Image::Bool_Store:
      return "on or off";
    case DD::Image::Float_Store:
      return k.components() == 3 ? "3 numbers" : "number";
    default:
      return "";
  }
}

}  // namespace

void run_knobs(const DD::Image::Op::Description& description, const NodeSettings& settings, bool json,
               std::ostream& out) {
  Node node(description);
  node.apply(settings);
  DD::Image::Op& op = node.op();
  if (json) {
    // Texts come from the module; bytes that are not UTF-8 are replaced rather than failing the listing.
    out << node.panel().dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }
  const std::vector<std::string> header = {"label", "name", "value", "range", "accepts", "available"};
  std::vector<std::vector<std::string>> rows;
  for (const DD::Image::Knob* k : DD::Image::value_knobs(op))
    rows.push_back({k->label() ? k->label() : "", k->name(), DD::Image::knob_value_text(*k), range_text(*k),
                    forms_text(*k), k->available() ? "yes" : "no"});
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

}  // namespace quorlen::cli
