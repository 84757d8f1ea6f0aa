/// \file errors.h  The command-line host's failures and the exit codes they map to.
#pragma once

#include <stdexcept>
#include <string>

namespace quorlen::hosting {

/// Exit codes of `quorlen`; documented in the README.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,         ///< bad command line, settings, input file or layer
  kExitPlugin = 2,        ///< the plug-in module could not be found, loaded or used
  kExitOutput = 3,        ///< rendering or writing an output failed
  kExitInterrupted = 130  ///< stopped by SIGINT or SIGTERM
};

/// A failure that ends the command: a one-line message and the exit code it maps to.
class AppError : public std::runtime_error {
 public:
  AppError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const { return code_; }

 private:
  ExitCode code_;
};

/// Bad usage or input: exit code 1.
inline AppError usage_error(const std::string& message) { return AppError(kExitUsage, message); }
/// Plug-in loading: exit code 2.
inline AppError plugin_error(const std::string& message) { return AppError(kExitPlugin, message); }
/// Rendering or writing: exit code 3.
inline AppError output_error(const std::string& message) { return AppError(kExitOutput, message); }

}  // namespace quorlen::hosting
