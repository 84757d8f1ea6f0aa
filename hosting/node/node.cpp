/// \file node.cpp  Knob access by name, with the host's messages turned into usage errors.
#include "hosting/node/node.h"

#include <fmt/format.h>

#include "DDImageHost/KnobAccess.h"
#include "DDImageHost/PanelJson.h"
#include "hosting/errors.h"

namespace quorlen::hosting {

Node::Node(const DD::Image::Op::Description& description) {
  std::string error;
  instance_ = DD::Image::NodeInstance::create(description, error);
  if (!instance_) throw plugin_error(error);
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

}  // namespace quorlen::hosting
