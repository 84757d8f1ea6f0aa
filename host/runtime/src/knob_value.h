/// \file knob_value.h  Parsing knob values apart from writing them, shared by the text and JSON setters.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "DDImage/Op.h"

namespace DD::Image::detail {

/// A value parsed for one knob, not yet written to its field.
struct PendingValue {
  Knob* knob = nullptr;
  std::array<float, 3> floats{};  ///< Float_Store: the first components() entries
  std::int32_t integer = 0;       ///< Enumeration_Store, Bitmask_Store
  bool flag = false;              ///< Bool_Store
};

/// The settable knob `name` of `op`; null with a "no knob named" message (and a hint) otherwise.
Knob* find_settable_knob(Op& op, std::string_view name, std::string& error);

/// Parses `text` in the knob's text forms. On failure returns false with a one-line message that shows the
/// value as `shown`, or as `text` quoted when `shown` is empty.
bool parse_knob_text(Knob& knob, std::string_view text, PendingValue& value, std::string& error,
                     std::string_view shown = {});
/// Parses one float component, as the text forms do (surrounding spaces, a leading '+', inf and nan).
enum class FloatParse { ok, not_a_number, out_of_range };
FloatParse parse_float(std::string_view text, float& out);

/// Text of a float that reads back as the same float (shortest form; "nan", "inf", "-inf").
std::string float_text(float v);

/// The one-line error for a value of `knob` shown as `shown` (already quoted or JSON text).
std::string value_error(const Knob& knob, std::string_view shown, std::string_view problem);
/// What the knob accepts, for messages; e.g. "one of parallel, point (or an index 0-1)".
std::string accepted_forms(const Knob& knob);

/// Writes the value to its knob's field. Does not notify the operator.
void write_value(const PendingValue& value);

}  // namespace DD::Image::detail
