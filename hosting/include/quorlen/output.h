/// \file output.h  What the user chose for the output file: sample type, compression and colour, checked
/// against what the format can hold.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace quorlen::hosting {

/// Sample types, named as image tools name them (half, float, uint8, uint16).
enum class DataType { half, float32, uint8, uint16 };

/// The choices; empty ones take the format's default.
struct OutputOptions {
  std::optional<DataType> type = std::nullopt;
  std::optional<std::string> compression = std::nullopt;  ///< one of kExrCompressions, EXR only
  /// Names of the colour config in use (colour.h): the space float outputs are written in (default: the
  /// working space), and the display, view and look integer outputs are shown through (default: the
  /// config's default display and its default view, no look).
  std::optional<std::string> colour_space = std::nullopt;
  std::optional<std::string> display = std::nullopt;
  std::optional<std::string> view = std::nullopt;
  std::optional<std::string> look = std::nullopt;
};

/// The EXR compressions by name; "zip" is the default.
inline constexpr std::array<const char*, 10> kExrCompressions = {"none",  "rle", "zips", "zip",  "piz",
                                                                 "pxr24", "b44", "b44a", "dwaa", "dwab"};

/// "half", "float", "uint8" or "uint16".
const char* name_of(DataType type);
/// The type called `name`, or nullopt.
std::optional<DataType> data_type_named(const std::string& name);

/// The sample type a file of format `format_name` gets: the chosen one when the format holds it, else throws
/// a usage error naming the types it holds; without a choice, the format's default (float for EXR, TIFF
/// and HDR, uint8 for the others). Also checks the compression (EXR only). `path` is for messages.
DataType checked_type(const std::string& path, const std::string& format_name, const OutputOptions& options);

}  // namespace quorlen::hosting
