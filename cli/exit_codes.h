/// \file exit_codes.h  What `quorlen` exits with, for each kind of failure; documented in docs/cli.md.
#pragma once

#include <quorlen/errors.h>

namespace quorlen::cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,         ///< bad command line, settings, input file or layer
  kExitModule = 2,        ///< the operator's module could not be found, loaded or used
  kExitOutput = 3,        ///< rendering or writing an output failed
  kExitInterrupted = 130  ///< stopped by SIGINT or SIGTERM
};

constexpr ExitCode exit_code(hosting::ErrorKind kind) {
  switch (kind) {
    case hosting::ErrorKind::usage:
    case hosting::ErrorKind::input:
      return kExitUsage;
    case hosting::ErrorKind::module:
      return kExitModule;
    case hosting::ErrorKind::output:
      return kExitOutput;
    case hosting::ErrorKind::interrupted:
      return kExitInterrupted;
  }
  return kExitOutput;
}

}  // namespace quorlen::cli
