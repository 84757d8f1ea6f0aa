/// \file exr_support.h  What the EXR reader and writer share.
#pragma once

#include <algorithm>
#include <exception>
#include <string>

namespace quorlen::app {

/// An OpenEXR exception's message on one line.
inline std::string exr_message(const std::exception& e) {
  std::string message = e.what();
  std::replace(message.begin(), message.end(), '\n', ' ');
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message.empty() ? std::string("unknown error") : message;
}

}  // namespace quorlen::app
