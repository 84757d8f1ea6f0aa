/// \file node.cpp  Knob access by name, with the host's messages turned into usage errors.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/node.h>

#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/PanelJson.h"
#include "hosting/node/knob_settings.h"
#include "text/strings.h"

namespace quorlen::hosting {

Node::Node(const DD::Image::Op::Description& description) {
  std::string error;
  instance_ = DD::Image::NodeInstance::create(description, error);
  if (!instance_) throw module_error(error);
  // A host opens the panel before anyone edits it; availability is kept up to date from then on.
  DD::Image::open_panel(op());
}

Node::~Node() = default;

std::vector<std::string> Node::knob_names() {
  std::vector<std::string> names;
  for (const DD::Image::Knob* k : DD::Image::value_knobs(op())) names.emplace_back(k->name());
  return names;
}

void Node::set(std::string_view name, std::string_view text) {
  std::string error;
  if (!DD::Image::set_knob(op(), name, text, error)) throw usage_error(error);
}

void Node::set_json(std::string_view name, const nlohmann::json& value) {
  std::string error;
  if (!DD::Image::set_knob_json(op(), name, value, error)) throw usage_error(error);
}

void Node::apply(const nlohmann::json& settings) {
  std::string error;
  if (!DD::Image::apply_settings_json(op(), settings, error)) throw usage_error(error);
}

void Node::apply(const NodeSettings& settings) { apply_settings(op(), settings); }

DD::Image::Knob& Node::knob(std::string_view name) {
  std::string error;
  DD::Image::Knob* k = DD::Image::find_knob(op(), name, error);
  if (!k) throw usage_error(error);
  return *k;
}

std::string Node::value_text(std::string_view name) { return DD::Image::knob_value_text(knob(name)); }

bool Node::available(std::string_view name) { return knob(name).available(); }

nlohmann::json Node::panel() { return DD::Image::describe_panel(op()); }

std::vector<std::string> Node::changed_knobs() {
  Node fresh(description());
  std::vector<std::string> out;
  for (DD::Image::Knob* k : DD::Image::value_knobs(op())) {
    const std::string value = DD::Image::knob_value_text(*k);
    DD::Image::Knob* d = fresh.op().knob(k->name());
    if (!d || DD::Image::knob_value_text(*d) != value) out.push_back(fmt::format("{}={}", k->name(), value));
  }
  return out;
}

nlohmann::json Node::settings() {
  nlohmann::json out = nlohmann::json::object();
  const nlohmann::json described = panel();
  for (const nlohmann::json& k : described["knobs"]) {
    if (!k["name"].is_string() || k["value"].is_null()) continue;
    const std::string name = k["name"];
    if (k["kind"] == "enumeration" || k["kind"] == "bitmask")
      out[name] = value_text(name);
    else
      out[name] = k["value"];
  }
  return out;
}

namespace {

std::string range_text(const DD::Image::Knob& k) {
  if (!k.has_range()) return "";
  return fmt::format("{:g} to {:g}", k.range_min(), k.range_max());
}

// What the value may be: the entries of a choice, else the kind.
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

std::vector<Node::KnobRow> Node::knob_rows() {
  std::vector<KnobRow> rows;
  for (const DD::Image::Knob* k : DD::Image::value_knobs(op()))
    rows.push_back({k->label() ? k->label() : "", k->name(), DD::Image::knob_value_text(*k), range_text(*k),
                    forms_text(*k), k->available()});
  return rows;
}

}  // namespace quorlen::hosting
