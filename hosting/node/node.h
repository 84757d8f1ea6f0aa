/// \file node.h  One operator node as a host program sees it: created from its class, knobs read and set by
/// name in text or JSON, its panel described.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "DDImageHost/NodeHost.h"
#include "hosting/node/knob_settings.h"

namespace quorlen::hosting {

/// A node of an operator class. Setting a knob notifies the operator as a host does after an edit, so
/// availability follows the settings. Not for use from two threads at once.
class Node {
 public:
  /// Creates the node through the class's factory; throws a plug-in error when the factory fails.
  explicit Node(const DD::Image::Op::Description& description);
  ~Node();
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  DD::Image::Iop& op() { return instance_->op(); }
  const DD::Image::Op::Description& description() const { return instance_->description(); }

  /// Names of the knobs that hold a value, in declaration order.
  std::vector<std::string> knob_names();
  /// Sets knob `name` from text in the forms `--set` accepts. Throws a usage error naming the knob and the
  /// accepted forms (or suggesting the nearest name); the node is unchanged then.
  void set(std::string_view name, std::string_view text);
  /// Sets knob `name` from a JSON value (number, bool, string or array of three); as set().
  void set_json(std::string_view name, const nlohmann::json& value);
  /// Applies a JSON object of knob names and values, all or nothing; throws a usage error.
  void apply(const nlohmann::json& settings);
  /// Applies the settings file, then each --set in order; throws a usage error naming the source.
  void apply(const NodeSettings& settings);

  /// The knob's value in the text form `--set` accepts; throws a usage error for an unknown knob.
  std::string value_text(std::string_view name);
  /// Whether knob `name` applies to the current settings (the panel's own rules); throws a usage error for
  /// an unknown knob.
  bool available(std::string_view name);
  /// The panel as JSON: class, menu, help, inputs and every declaration with its value and availability.
  nlohmann::json panel();
  /// "name=value" for every knob whose value differs from a new node's, in declaration order.
  std::vector<std::string> changed_knobs();

 private:
  DD::Image::Knob& knob(std::string_view name);

  std::unique_ptr<DD::Image::NodeInstance> instance_;
};

}  // namespace quorlen::hosting
