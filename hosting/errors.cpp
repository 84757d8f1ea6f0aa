/// \file errors.cpp  Names of the error kinds.
#include <quorlen/errors.h>

namespace quorlen::hosting {

std::string_view kind_name(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::usage:
      return "usage";
    case ErrorKind::input:
      return "input";
    case ErrorKind::module:
      return "module";
    case ErrorKind::output:
      return "output";
    case ErrorKind::interrupted:
      return "interrupted";
  }
  return "unknown";
}

}  // namespace quorlen::hosting
