/// \file output_options.cpp  Checking the output's sample type and compression against its format.
#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/output.h>

#include <algorithm>
#include <vector>

#include "text/strings.h"

namespace quorlen::hosting {

const char* name_of(DataType type) {
  switch (type) {
    case DataType::half:
      return "half";
    case DataType::float32:
      return "float";
    case DataType::uint8:
      return "uint8";
    case DataType::uint16:
      return "uint16";
  }
  return "float";
}

std::optional<DataType> data_type_named(const std::string& name) {
  for (DataType t : {DataType::half, DataType::float32, DataType::uint8, DataType::uint16})
    if (text::equal_ignoring_case(name, name_of(t))) return t;
  return std::nullopt;
}

DataType checked_type(const std::string& path, const std::string& format_name, const OutputOptions& options) {
  std::vector<DataType> held;
  if (format_name == "openexr")
    held = {DataType::float32, DataType::half};
  else if (format_name == "tiff")
    held = {DataType::float32, DataType::half, DataType::uint8, DataType::uint16};
  else if (format_name == "hdr")
    held = {DataType::float32};
  else if (format_name == "png")
    held = {DataType::uint8, DataType::uint16};
  else
    held = {DataType::uint8};
  if (options.compression) {
    if (format_name != "openexr")
      throw usage_error(fmt::format("cannot write \"{}\": --compression applies to EXR outputs only", path));
    const std::string wanted = text::lower(*options.compression);
    if (std::none_of(kExrCompressions.begin(), kExrCompressions.end(),
                     [&](const char* c) { return wanted == c; }))
      throw usage_error(fmt::format("--compression \"{}\" is not an EXR compression (one of {})",
                                    text::escape_controls(*options.compression),
                                    text::join(kExrCompressions)));
  }
  if (!options.type) return held.front();
  if (std::find(held.begin(), held.end(), *options.type) == held.end()) {
    std::vector<std::string> names;
    for (DataType t : held) names.emplace_back(name_of(t));
    throw usage_error(fmt::format("cannot write \"{}\" as -d {}: {} files are written as {}", path,
                                  name_of(*options.type), format_name, text::join(names, " or ")));
  }
  return *options.type;
}

}  // namespace quorlen::hosting
