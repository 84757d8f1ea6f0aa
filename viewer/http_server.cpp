/// \file http_server.cpp  The viewer's web server: Boost.Beast on one thread, checks before anything else.
#include "viewer/http_server.h"

#include <fmt/format.h>
#include <quorlen/errors.h>
#include <quorlen/inputs.h>
#include <quorlen/interrupt.h>

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <charconv>
#include <chrono>
#include <csignal>
#include <optional>
#include <random>
#include <string_view>

#include "text/strings.h"
#include "viewer/web_assets.h"

namespace quorlen::viewer {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using nlohmann::json;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

std::string random_token() {
  std::random_device device;
  std::string token;
  for (int i = 0; i < 4; ++i) token += fmt::format("{:08x}", static_cast<std::uint32_t>(device()));
  return token;
}

namespace {

// Compares without returning early, so the time taken says nothing about how much of a guess was right.
bool same_secret(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string_view view_of(beast::string_view s) { return {s.data(), s.size()}; }

// The value of `key` in a query string ("a=1&b=2"), undecoded: the values used here need no escapes.
std::optional<std::string> query_value(std::string_view query, std::string_view key) {
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    if (pair.substr(0, eq) == key)
      return std::string(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

// The value of cookie `name` in a Cookie header ("a=1; b=2").
std::optional<std::string> cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const std::size_t semi = header.find(';');
    std::string_view pair = header.substr(0, semi);
    while (!pair.empty() && pair.front() == ' ') pair.remove_prefix(1);
    const std::size_t eq = pair.find('=');
    if (eq != std::string_view::npos && pair.substr(0, eq) == name) return std::string(pair.substr(eq + 1));
    if (semi == std::string_view::npos) break;
    header.remove_prefix(semi + 1);
  }
  return std::nullopt;
}

// Bad values and unreadable inputs are the request's fault; a failed write or module is the server's.
http::status status_of(hosting::ErrorKind kind) {
  switch (kind) {
    case hosting::ErrorKind::usage:
    case hosting::ErrorKind::input:
      return http::status::bad_request;
    case hosting::ErrorKind::interrupted:
      return http::status::service_unavailable;
    case hosting::ErrorKind::module:
    case hosting::ErrorKind::output:
      break;
  }
  return http::status::internal_server_error;
}

// Whether a Host header names the loopback interface: localhost, 127.0.0.1 or [::1], with any port or none.
bool loopback_host(std::string_view host) {
  std::string_view name = host, port;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (port.empty()) return false;
    }
  } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
    if (port.empty()) return false;
  }
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos) return false;
  return name == "localhost" || name == "127.0.0.1" || name == "[::1]";
}

// What a browser that comes without the token is shown.
constexpr std::string_view kTokenPage = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>quorlen view: open the address it printed</title>
<style>body{font:15px/1.5 system-ui,sans-serif;background:#17181a;color:#d6d7d9;margin:12vh auto;max-width:36em;padding:0 1em}
code{background:#2a2c30;padding:1px 4px;border-radius:3px}h1{font-size:20px;color:#e0a030}</style></head>
<body><h1>This viewer needs its address with the token</h1>
<p><code>quorlen view</code> printed the address to open when it started, as its first line:</p>
<p><code>quorlen: viewing at http://127.0.0.1:PORT/?token=...</code></p>
<p>Open that address (the token is exchanged for a cookie, so later visits in this browser need it only
once). Through an SSH tunnel (<code>ssh -L 9000:127.0.0.1:PORT host</code>), keep the token and use the
tunnel's port: <code>http://127.0.0.1:9000/?token=...</code>.</p>
</body></html>
)";

struct HttpFailure {
  http::status status;
  std::string message;
};

double number_in(std::string_view query, std::string_view key, double fallback) {
  const auto text = query_value(query, key);
  if (!text) return fallback;
  double value = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size())
    throw HttpFailure{http::status::bad_request, fmt::format("{} must be a number, not \"{}\"", key, *text)};
  return value;
}

int whole_number_in(const json& body, const char* key) {
  if (!body.contains(key) || !body[key].is_number_integer())
    throw HttpFailure{http::status::bad_request, fmt::format("\"{}\" must be a whole number", key)};
  const auto v = body[key].get<long long>();
  if (v < -1000000000LL || v > 1000000000LL)
    throw HttpFailure{http::status::bad_request, fmt::format("\"{}\" is out of range", key)};
  return static_cast<int>(v);
}

json parse_body(const Request& req) {
  json body = json::parse(req.body(), nullptr, false);
  if (body.is_discarded()) throw HttpFailure{http::status::bad_request, "the body is not valid JSON"};
  if (!body.is_object()) throw HttpFailure{http::status::bad_request, "the body must be a JSON object"};
  return body;
}

}  // namespace

struct HttpServer::Impl {
  ViewerState& state;
  std::string token;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  // Taken over from the command's own handlers before the address is printed, so that a signal sent as
  // soon as the address is seen is never lost.
  asio::signal_set signals{io, SIGINT, SIGTERM};
  std::uint16_t port = 0;

  Impl(ViewerState& s, std::string t) : state(s), token(std::move(t)) {}

  std::string cookie_name() const { return fmt::format("quorlen_view_{}", port); }

  Response respond(const Request& req, http::status status, std::string body, std::string_view type) {
    Response res{status, req.version()};
    res.set(http::field::server, "quorlen");
    res.set(http::field::content_type, beast::string_view(type.data(), type.size()));
    res.set("Content-Security-Policy", "default-src 'self'");
    res.set("X-Content-Type-Options", "nosniff");
    res.set("X-Frame-Options", "DENY");
    res.set("Referrer-Policy", "no-referrer");
    res.set(http::field::cache_control, "no-store");
    res.keep_alive(req.keep_alive());
    res.body() = std::move(body);
    res.prepare_payload();
    return res;
  }

  Response error(const Request& req, http::status status, const std::string& message) {
    return respond(req, status, json{{"error", text::one_line(message)}}.dump() + "\n", "application/json");
  }

  Response json_reply(const Request& req, const json& body) {
    return respond(req, http::status::ok, body.dump(-1, ' ', false, json::error_handler_t::replace) + "\n",
                   "application/json");
  }

  // Host, origin and token: a request failing any of them is refused before its path is looked at.
  std::optional<Response> refuse(const Request& req) {
    // The Host's name guards against DNS rebinding: a page of another name that resolves to this machine
    // names itself. Its port does not: an SSH tunnel or a forwarded port reaches the server on another.
    const std::string host = text::lower(std::string(view_of(req[http::field::host])));
    if (!loopback_host(host))
      return error(
          req, http::status::forbidden,
          "the Host header must name this machine's loopback address (localhost, 127.0.0.1 or [::1])");
    // A page's requests carry its origin: only the page itself, as the browser reached it, may send them.
    if (req.find(http::field::origin) != req.end() &&
        text::lower(std::string(view_of(req[http::field::origin]))) != "http://" + host)
      return error(req, http::status::forbidden, "requests from other origins are refused");
    std::string_view target = view_of(req.target());
    const std::size_t q = target.find('?');
    const std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
    if (const auto auth = view_of(req[http::field::authorization]);
        auth.substr(0, 7) == "Bearer " && same_secret(auth.substr(7), token))
      return std::nullopt;
    if (const auto c = cookie_value(view_of(req[http::field::cookie]), cookie_name());
        c && same_secret(*c, token))
      return std::nullopt;
    if (const auto t = query_value(query, "token");
        t && same_secret(*t, token) && req.method() == http::verb::get && target.substr(0, q) == "/") {
      // The token in the address becomes a cookie scripts on the page cannot read, and leaves the address.
      Response res = respond(req, http::status::see_other, "", "text/plain");
      res.set(http::field::location, "/");
      res.set(http::field::set_cookie,
              fmt::format("{}={}; HttpOnly; SameSite=Strict; Path=/", cookie_name(), token));
      return res;
    }
    // A browser opened without the token (a bookmark, the address typed without it) gets a page that says
    // what to do; scripts get the error as JSON.
    if (view_of(req[http::field::accept]).find("text/html") != std::string_view::npos) {
      Response res =
          respond(req, http::status::forbidden, std::string(kTokenPage), "text/html; charset=utf-8");
      res.set("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
      return res;
    }
    return error(req, http::status::forbidden,
                 "a valid token is needed: open the address quorlen view printed");
  }

  Response png(const Request& req, std::string bytes, double render_ms) {
    Response res = respond(req, http::status::ok, std::move(bytes), "image/png");
    res.set("Server-Timing", fmt::format("render;dur={:.2f}", render_ms));
    res.set("X-Quorlen-Generation", std::to_string(state.generation()));
    return res;
  }

  Response route(const Request& req) {
    const std::string_view target = view_of(req.target());
    const std::size_t q = target.find('?');
    const std::string_view path = target.substr(0, q);
    const std::string_view query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
    const bool get = req.method() == http::verb::get, post = req.method() == http::verb::post;
    const auto only = [&](bool allowed, const char* method) {
      if (!allowed) throw HttpFailure{http::status::method_not_allowed, fmt::format("use {} here", method)};
    };
    if (path.substr(0, 5) != "/api/") {
      only(get, "GET");
      const WebAsset* asset = find_web_asset(path == "/" ? "/index.html" : path);
      if (!asset) throw HttpFailure{http::status::not_found, "no such file"};
      return respond(req, http::status::ok, std::string(asset->bytes), asset->type);
    }
    // The light a request names (?light=NAME), or the selected one.
    const std::optional<std::string> light = query_value(query, "light");
    if (path == "/api/panel") {
      only(get, "GET");
      return json_reply(req, state.panel(light));
    }
    if (path == "/api/info") {
      only(get, "GET");
      return json_reply(req, state.info());
    }
    if (path == "/api/command") {
      only(get, "GET");
      return json_reply(req, state.command_reply());
    }
    if (path == "/api/settings") {
      only(get, "GET");
      return json_reply(req, state.rig());
    }
    if (path == "/api/rig") {
      if (post) return json_reply(req, state.set_rig(parse_body(req)));
      only(get, "GET or POST");
      return json_reply(req, state.rig());
    }
    if (path == "/api/frame") {
      if (post) return json_reply(req, state.set_frame(parse_body(req)));
      only(get, "GET or POST");
      return json_reply(req, state.frame_info());
    }
    if (path == "/api/lights") {
      if (post) return json_reply(req, state.choose(parse_body(req)));
      only(get, "GET or POST");
      return json_reply(req, state.lights());
    }
    if (path == "/api/knobs") {
      only(post, "POST");
      return json_reply(req, state.apply(parse_body(req), light));
    }
    if (path == "/api/colour") {
      if (post) return json_reply(req, state.set_colour(parse_body(req)));
      only(get, "GET or POST");
      return json_reply(req, state.colour());
    }
    if (path == "/api/preview.png") {
      only(get, "GET");
      double render_ms = 0;
      const double width = number_in(query, "width", 0);
      if (width != std::floor(width) || width < 0 || width > 100000)
        throw HttpFailure{http::status::bad_request, "width must be a whole number of pixels"};
      std::string bytes = state.preview_png(number_in(query, "scale", 1.0), number_in(query, "exposure", 0.0),
                                            render_ms, light, static_cast<int>(width));
      return png(req, std::move(bytes), render_ms);
    }
    if (path == "/api/input.png") {
      only(get, "GET");
      const std::string name = query_value(query, "name").value_or("");
      int slot = -1;
      for (int s = 0; s < hosting::kInputCount; ++s)
        if (name == hosting::kInputLabels[static_cast<std::size_t>(s)]) slot = s;
      if (slot < 0)
        throw HttpFailure{http::status::bad_request, "name must be one of color, normal, P, noiseP"};
      return png(req,
                 state.input_png(slot, number_in(query, "scale", 1.0), number_in(query, "exposure", 0.0)), 0);
    }
    if (path == "/api/pixel") {
      only(get, "GET");
      const double x = number_in(query, "x", -1), y = number_in(query, "y", -1);
      if (x != std::floor(x) || y != std::floor(y) || std::abs(x) > 1e9 || std::abs(y) > 1e9)
        throw HttpFailure{http::status::bad_request, "x and y must be whole numbers"};
      const hosting::Surface s = state.surface(static_cast<int>(x), static_cast<int>(y));
      return json_reply(req, {{"P", {s.position[0], s.position[1], s.position[2]}},
                              {"N", {s.normal[0], s.normal[1], s.normal[2]}},
                              {"surface", !s.empty()}});
    }
    if (path == "/api/pick") {
      only(post, "POST");
      const json body = parse_body(req);
      std::optional<double> distance;  // none: a tenth of the scene's size
      if (body.contains("distance")) {
        if (!body["distance"].is_number())
          throw HttpFailure{http::status::bad_request, "\"distance\" must be a number"};
        distance = body["distance"].get<double>();
      }
      std::optional<std::string> named;
      if (body.contains("light")) {
        if (!body["light"].is_string())
          throw HttpFailure{http::status::bad_request, "\"light\" must be a light's name"};
        named = body["light"].get<std::string>();
      }
      return json_reply(req,
                        state.pick(whole_number_in(body, "x"), whole_number_in(body, "y"), distance, named));
    }
    if (path == "/api/save") {
      only(post, "POST");
      return json_reply(req, state.save());
    }
    if (path == "/api/render") {
      only(post, "POST");
      return json_reply(req, state.render_output());
    }
    throw HttpFailure{http::status::not_found, "no such interface"};
  }

  Response handle(const Request& req) {
    if (auto refused = refuse(req)) return std::move(*refused);
    try {
      return route(req);
    } catch (const HttpFailure& f) {
      return error(req, f.status, f.message);
    } catch (const hosting::Error& e) {
      return error(req, status_of(e.kind()), e.what());
    } catch (const std::exception& e) {
      return error(req, http::status::internal_server_error, e.what());
    }
  }
};

namespace {

// One connection: requests read and answered in turn until either side closes.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, HttpServer::Impl& server) : stream_(std::move(socket)), server_(server) {}

  void start() { read(); }

 private:
  void read() {
    parser_.emplace();
    parser_->body_limit(kBodyLimit);
    parser_->header_limit(16 * 1024);
    stream_.expires_after(std::chrono::seconds(60));
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&Connection::on_read, shared_from_this()));
  }

  void on_read(beast::error_code ec, std::size_t) {
    if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
        ec == asio::error::operation_aborted) {
      close();
      return;
    }
    if (ec == http::error::body_limit) {
      // Headers were read: a stranger still gets 403, not a hint about sizes.
      const Request& req = parser_->get();
      auto refused = server_.refuse(req);
      Response res = refused && refused->result() == http::status::forbidden
                         ? std::move(*refused)
                         : server_.error(req, http::status::payload_too_large,
                                         fmt::format("the body is over the limit of {} bytes", kBodyLimit));
      send(std::move(res), true);
      return;
    }
    if (ec) {
      Request blank;
      blank.version(11);
      send(server_.error(blank, http::status::bad_request, "malformed request: " + ec.message()), true);
      return;
    }
    Response res = server_.handle(parser_->get());
    send(std::move(res), !parser_->get().keep_alive());
  }

  void send(Response res, bool close_after) {
    if (close_after) res.keep_alive(false);
    auto message = std::make_shared<Response>(std::move(res));
    http::async_write(stream_, *message,
                      [self = shared_from_this(), message, close_after](beast::error_code ec, std::size_t) {
                        if (ec || close_after)
                          self->close();
                        else
                          self->read();
                      });
  }

  void close() {
    // The answer is sent; what the client still sends (the rest of a refused body) is read and dropped
    // for a short while, so that closing with it unread does not reset the connection and lose the answer.
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(std::chrono::seconds(2));
    drain();
  }

  void drain() {
    stream_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                              self->drained_ += n;
                              if (ec || self->drained_ > kDrainLimit) {
                                beast::error_code ignored;
                                self->stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
                                self->stream_.socket().close(ignored);
                                return;
                              }
                              self->drain();
                            });
  }

  static constexpr std::size_t kDrainLimit = 16 * 1024 * 1024;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_{8192};
  std::array<char, 16384> scratch_{};
  std::size_t drained_ = 0;
  std::optional<http::request_parser<http::string_body>> parser_;
  HttpServer::Impl& server_;
};

void accept(HttpServer::Impl& server) {
  server.acceptor.async_accept([&server](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) std::make_shared<Connection>(std::move(socket), server)->start();
    accept(server);
  });
}

}  // namespace

HttpServer::HttpServer(ViewerState& state, std::uint16_t port, std::string token)
    : impl_(std::make_unique<Impl>(state, std::move(token))) {
  beast::error_code ec;
  const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), port);
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) throw hosting::usage_error(fmt::format("cannot listen on 127.0.0.1:{}: {}", port, ec.message()));
  impl_->port = impl_->acceptor.local_endpoint().port();
}

HttpServer::~HttpServer() = default;

std::uint16_t HttpServer::port() const { return impl_->port; }

std::string HttpServer::url() const {
  return fmt::format("http://127.0.0.1:{}/?token={}", impl_->port, impl_->token);
}

void HttpServer::run() {
  // A signal that came before the server took over was seen by the command's own handlers.
  if (hosting::interrupted()) return;
  impl_->signals.async_wait([this](beast::error_code, int) { impl_->io.stop(); });
  accept(*impl_);
  impl_->io.run();
}

}  // namespace quorlen::viewer
