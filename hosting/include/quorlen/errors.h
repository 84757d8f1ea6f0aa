/// \file errors.h  What went wrong, by kind. Each front end says it in its own terms: the command as an exit
/// code, the viewer as an HTTP status, Python as an exception class.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quorlen::hosting {

enum class ErrorKind {
  usage,        ///< a request that cannot be carried out as asked: options, settings, knob values, frames
  input,        ///< an input file, layer or mask that is missing, unreadable or damaged
  module,       ///< the operator's module could not be found, loaded or used
  output,       ///< rendering or writing an output failed
  interrupted,  ///< stopped by a signal or by the caller
};

/// The kind's name, as front ends show it ("usage", "input", ...).
std::string_view kind_name(ErrorKind kind);

/// A failure that ends the request: a one-line message and its kind.
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

inline Error usage_error(const std::string& message) { return Error(ErrorKind::usage, message); }
inline Error input_error(const std::string& message) { return Error(ErrorKind::input, message); }
inline Error module_error(const std::string& message) { return Error(ErrorKind::module, message); }
inline Error output_error(const std::string& message) { return Error(ErrorKind::output, message); }
inline Error interrupted_error(const std::string& message) { return Error(ErrorKind::interrupted, message); }

}  // namespace quorlen::hosting
