/// \file http_server.h  The viewer's local web server: the page, its files and the HTTP interface, for one
/// user holding the token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "viewer/viewer_state.h"

namespace quorlen::viewer {

/// Bodies above this many bytes are refused (413): knob values and clicks are small, and a whole rig with
/// the keys of a long shot (sent back whole by the page's undo) stays well under it.
inline constexpr std::size_t kBodyLimit = 1024 * 1024;

/// A token of 128 random bits from std::random_device, as 32 hexadecimal digits.
std::string random_token();

/// Serves `state` on 127.0.0.1. Requests are handled one at a time on the thread that calls run(), so the
/// session is never used from two threads and every preview shows the state at the time it is asked for.
class HttpServer {
 public:
  /// Listens on 127.0.0.1:`port` (0: a free port the system chooses); throws a usage error when it cannot.
  HttpServer(ViewerState& state, std::uint16_t port, std::string token);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::uint16_t port() const;
  /// The address to open: http://127.0.0.1:PORT/?token=TOKEN.
  std::string url() const;
  /// Serves until SIGINT or SIGTERM arrives.
  void run();

  struct Impl;  // the connections' view of the server

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorlen::viewer
