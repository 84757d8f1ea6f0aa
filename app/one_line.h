/// \file one_line.h  A library's message made fit for the command's one-line errors.
#pragma once

#include <algorithm>
#include <string>

namespace quorlen::app {

/// `message` with its line breaks turned into spaces and trailing spaces dropped; "unknown error" when
/// nothing is left.
inline std::string one_line(std::string message) {
  std::replace(message.begin(), message.end(), '\n', ' ');
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message.empty() ? std::string("unknown error") : message;
}

}  // namespace quorlen::app
