/// \file input_spec.cpp  Splitting `FILE:LAYER` arguments.
#include "hosting/images/input_spec.h"

#include <fmt/format.h>
#include <quorlen/errors.h>

namespace quorlen::hosting {

InputSpec parse_input_spec(std::string_view text, const std::function<bool(const std::string&)>& exists) {
  const std::string whole(text);
  if (whole.empty()) throw usage_error("an input option was given an empty path");
  if (exists(whole)) return InputSpec{whole, std::nullopt};
  const std::size_t colon = whole.rfind(':');
  if (colon != std::string::npos && colon > 0) {
    std::string file = whole.substr(0, colon);
    std::string layer = whole.substr(colon + 1);
    if (exists(file)) {
      if (layer.empty()) return InputSpec{std::move(file), std::nullopt};
      return InputSpec{std::move(file), std::move(layer)};
    }
    // A rest without a slash reads as a layer name, so the message names the file part.
    if (layer.find('/') == std::string::npos)
      throw usage_error(fmt::format("no such file: \"{}\" (for layer \"{}\")", file, layer));
  }
  throw usage_error(fmt::format("no such file: \"{}\"", whole));
}

std::string to_string(const InputSpec& spec) {
  return spec.layer ? spec.file + ":" + *spec.layer : spec.file;
}

}  // namespace quorlen::hosting
