/// \file node.h  One operator node as a host program sees it: created from its class, knobs read and set by
/// name in text or JSON, its panel described.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DDImageHost/NodeHost.h"

namespace quorlen::hosting {

/// One `--set NAME=VALUE`.
struct KnobSetting {
  std::string name;
  std::string value;
};

/// Splits "NAME=VALUE" at the first '='; throws a usage error when there is none or NAME is empty.
KnobSetting parse_knob_setting(std::string_view text);

/// Knob values in the order they are applied: the settings file first, then the values given in memory,
/// then each --set.
struct NodeSettings {
  std::optional<std::string> settings_file;  ///< a JSON object of knob name to value
  std::optional<nlohmann::json> values;      ///< the same object given in memory (a script's dict)
  std::vector<KnobSetting> sets;
  double frame = 0;  ///< where the file's animated values are evaluated (see animated_settings.h)
};

/// Reads a settings file; throws a usage error when it is missing or not a JSON object.
nlohmann::json read_settings_file(const std::string& path);

/// Writes `settings` as a settings file, whole or not at all (a file it replaces stays until the new one is
/// complete). Throws an output error.
void write_settings_file(const std::string& path, const nlohmann::json& settings);

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
  /// Every knob's value in the settings file's form, as `--settings` reads it: choices and bit sets by their
  /// labels, which survive a reordering of the entries.
  nlohmann::json settings();

  /// One knob as a table shows it.
  struct KnobRow {
    std::string label, name, value;
    std::string range;    ///< "0 to 1", or "" without one
    std::string accepts;  ///< "one of a, b", "on or off", "3 numbers", ...
    bool available = true;
  };
  /// The knobs that hold a value, in declaration order.
  std::vector<KnobRow> knob_rows();

 private:
  DD::Image::Knob& knob(std::string_view name);

  std::unique_ptr<DD::Image::NodeInstance> instance_;
};

}  // namespace quorlen::hosting
