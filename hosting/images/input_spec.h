/// \file input_spec.h  `FILE` or `FILE:LAYER` arguments of the input options.
#pragma once

#include <quorlen/inputs.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quorlen::hosting {

/// Splits `text` into file and layer. Paths may contain colons, so the rule is: if `text` names an existing
/// file it is the file; otherwise, when the part before the last colon names an existing file, that is the
/// file and the rest the layer (an empty rest means no layer). Otherwise throws a usage error naming the
/// missing file. `exists` answers whether a path is an existing file.
InputSpec parse_input_spec(std::string_view text, const std::function<bool(const std::string&)>& exists);

/// The spec as the user would write it ("file" or "file:layer").
std::string to_string(const InputSpec& spec);

}  // namespace quorlen::hosting
