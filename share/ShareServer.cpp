#include "share/ShareServer.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "share/BrowserProtocol.h"
#include "share/ShareAssets.h"

namespace ts {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

constexpr size_t kHeaderBytes = 8192;
constexpr size_t kHeaderFields = 40;
constexpr size_t kViewerMessageBytes = 64;

// Every request is refused alike, so a refusal tells nothing about the key.
constexpr std::string_view kRefusal = "Forbidden\n";

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

// The value of `name` in the target's query, or nothing.
std::optional<std::string_view> QueryValue(std::string_view target, std::string_view name) {
  const size_t question = target.find('?');
  if (question == std::string_view::npos) return std::nullopt;
  std::string_view query = target.substr(question + 1);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    if (pair.size() > name.size() && pair.substr(0, name.size()) == name && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return std::nullopt;
}

std::string_view PathOf(std::string_view target) { return target.substr(0, target.find('?')); }

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Most of the instrument's screen stays as it was from one present to the next:
// a viewer that has a picture gets the rows that changed, so sixteen viewers cost
// the program little more than one.
void EncodePicture(const TFeedState& state, const std::array<uint8_t, kFeedBytes>* viewerHas,
                   std::vector<uint8_t>& out) {
  out.assign(kPictureHeader, 0);
  out[kPictureFlagsAt] = state.Linked ? kPictureLinked : 0;
  PutLe32(&out[kPictureRateAt], static_cast<uint32_t>(std::clamp<int64_t>(state.Rate, 0, INT32_MAX)));
  PutLe32(&out[kPicturePresentsAt], static_cast<uint32_t>(state.Presents));
  if (viewerHas) {
    out[kPictureFlagsAt] |= kPictureChangedRows;
    out.resize(kPictureHeader + kPictureRowMaskBytes);
    for (int row = 0; row < kScreenHeight; ++row) {
      const auto begin = state.Bits.begin() + row * kFeedRowBytes;
      if (std::equal(begin, begin + kFeedRowBytes, viewerHas->begin() + row * kFeedRowBytes)) continue;
      out[kPictureHeader + size_t(row / 8)] |= static_cast<uint8_t>(1 << (row % 8));
      out.insert(out.end(), begin, begin + kFeedRowBytes);
    }
  } else {
    out.insert(out.end(), state.Bits.begin(), state.Bits.end());
  }
}

}  // namespace

// Anything the server holds open; Stop closes each.
class TConnection {
 public:
  virtual void Close() = 0;

 protected:
  ~TConnection() = default;
};

class TViewer;

struct TShareServerImpl {
  TShareServerImpl(TPictureFeed& f, TShareOptions o, TRemoteKeyHandler k)
      : feed(f), options(std::move(o)), onKey(std::move(k)) {}

  TPictureFeed& feed;
  const TShareOptions options;
  const TRemoteKeyHandler onKey;
  std::string page;
  std::string hello;
  std::string host;  // the Host every request must name: the address shown, with the port
  // Touched on the server's thread only. Before the context, so that connections
  // the context still holds when it goes can leave it.
  std::unordered_set<TConnection*> open;
  std::unordered_set<TViewer*> viewerSet;
  std::unordered_map<std::string, size_t> pendingFrom;  // by address
  size_t pending = 0;
  std::atomic<size_t> viewers{0};
  std::atomic<size_t> droppedPresses{0};
  std::atomic<bool> offerPosted{false};
  net::io_context ioc{1};
  tcp::acceptor acceptor{ioc};
  std::thread thread;
  uint16_t port = 0;

  void Accept();
  void OfferAll();
};

class TViewer : public TConnection, public std::enable_shared_from_this<TViewer> {
 public:
  TViewer(TShareServerImpl& server, beast::tcp_stream&& stream, std::string address)
      : server_(server), ws_(std::move(stream)), address_(std::move(address)) {
    server_.open.insert(this);
  }
  ~TViewer() {
    server_.open.erase(this);
    if (server_.viewerSet.erase(this)) --server_.viewers;
  }

  void Start(http::request<http::empty_body> request) {
    request_ = std::move(request);
    beast::get_lowest_layer(ws_).expires_never();
    // A picture goes out at once, not after the viewer's delayed acknowledgement.
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().set_option(tcp::no_delay(true), ignored);
    websocket::stream_base::timeout timeout{};
    timeout.handshake_timeout = server_.options.RequestTime;
    timeout.idle_timeout = server_.options.IdleTime;
    timeout.keep_alive_pings = true;
    ws_.set_option(timeout);
    ws_.read_message_max(kViewerMessageBytes);
    ws_.async_accept(request_, [self = shared_from_this()](beast::error_code ec) { self->Accepted(ec); });
  }

  // Sends the newest picture unless a send is under way; its end sends again, so
  // an unsent older picture is simply never sent.
  void Offer() {
    if (writing_) return;
    if (!server_.feed.Update(state_) || state_.Presents == 0) return;
    EncodePicture(state_, hasPicture_ ? &has_ : nullptr, out_);
    has_ = state_.Bits;
    hasPicture_ = true;
    ws_.binary(true);
    Write(net::buffer(out_));
  }

  void Close() override {
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

 private:
  void Accepted(beast::error_code ec) {
    if (ec) return;
    if (server_.viewerSet.size() >= server_.options.MaxViewers) {
      // Said in the close reason, which the page shows.
      ws_.async_close(websocket::close_reason(websocket::close_code::try_again_later, kTooManyViewers),
                      [self = shared_from_this()](beast::error_code) {});
      return;
    }
    server_.viewerSet.insert(this);
    ++server_.viewers;
    Read();
    ws_.text(true);
    Write(net::buffer(server_.hello));
  }

  void Write(net::const_buffer buffer) {
    writing_ = true;
    ws_.async_write(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
      self->writing_ = false;
      if (!ec) self->Offer();
    });
  }

  void Read() {
    in_.clear();
    ws_.async_read(in_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return;
      self->Message();
      self->Read();
    });
  }

  // "key N": a press of the keypad's key N, when keys are allowed.
  void Message() {
    if (!ws_.got_text() || !server_.options.KeysAllowed || !server_.onKey) return;
    const std::string text = beast::buffers_to_string(in_.data());
    const std::string_view prefix = kKeyPressPrefix;
    if (text.size() <= prefix.size() || text.compare(0, prefix.size(), prefix) != 0) return;
    int key = 0;
    for (size_t i = prefix.size(); i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9' || key > 1000) return;
      key = key * 10 + (text[i] - '0');
    }
    if (key >= static_cast<int>(server_.options.KeyLabels.size())) return;
    // Nobody presses faster by hand; a viewer that does would keep the operator's
    // program busy with its presses.
    const auto now = std::chrono::steady_clock::now();
    if (now - pressWindow_ >= std::chrono::seconds(1)) {
      pressWindow_ = now;
      pressesInWindow_ = 0;
    }
    if (pressesInWindow_ >= server_.options.PressesPerSecond) {
      ++server_.droppedPresses;
      return;
    }
    ++pressesInWindow_;
    server_.onKey(key, address_);
  }

  TShareServerImpl& server_;
  websocket::stream<beast::tcp_stream> ws_;
  std::string address_;
  http::request<http::empty_body> request_;
  beast::flat_buffer in_;
  TFeedState state_;
  std::array<uint8_t, kFeedBytes> has_{};  // the picture the viewer has once out_ is sent
  bool hasPicture_ = false;
  std::vector<uint8_t> out_;
  bool writing_ = false;
  std::chrono::steady_clock::time_point pressWindow_{};
  int pressesInWindow_ = 0;
};

class THttpSession : public TConnection, public std::enable_shared_from_this<THttpSession> {
 public:
  THttpSession(TShareServerImpl& server, tcp::socket&& socket, std::string address)
      : server_(server), stream_(std::move(socket)), buffer_(kHeaderBytes), address_(std::move(address)) {
    server_.open.insert(this);
    ++server_.pending;
    ++server_.pendingFrom[address_];
  }
  ~THttpSession() {
    server_.open.erase(this);
    --server_.pending;
    if (--server_.pendingFrom[address_] == 0) server_.pendingFrom.erase(address_);
  }

  void Start() {
    parser_.emplace();
    parser_->header_limit(kHeaderBytes);
    parser_->body_limit(0);
    // The request line soon, the whole request within the time, however slowly it drips.
    requestEnd_ = std::chrono::steady_clock::now() + server_.options.RequestTime;
    stream_.expires_after(server_.options.RequestLineTime);
    Read();
  }

  void Close() override {
    beast::error_code ignored;
    stream_.socket().close(ignored);
  }

 private:
  void Read() {
    http::async_read_some(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, size_t) {
                            if (ec || self->parser_->is_done()) return self->Received(ec);
                            // The parser takes nothing before the whole header: what came waits in the
                            // buffer.
                            if (!self->lineCame_) {
                              const auto data = self->buffer_.cdata();
                              const std::string_view came(static_cast<const char*>(data.data()), data.size());
                              if ((self->lineCame_ = came.find('\n') != std::string_view::npos))
                                self->stream_.expires_at(self->requestEnd_);
                            }
                            self->Read();
                          });
  }

  void Received(beast::error_code ec) {
    if (ec) return;  // malformed, too large, too slow or gone: dropped without a word
    http::request<http::empty_body>& request = parser_->get();
    const std::string_view target(request.target().data(), request.target().size());
    const auto key = QueryValue(target, "key");
    size_t fields = 0;
    for (auto it = request.begin(); it != request.end(); ++it) ++fields;
    // A name that merely resolves here (a rebinding page) is no way in.
    if (fields > kHeaderFields || !key || !SameKey(*key, server_.options.Key) ||
        request[http::field::host] != server_.host)
      return Refuse();
    if (websocket::is_upgrade(request)) {
      if (PathOf(target) != kViewerSocketPath || request[http::field::origin] != "http://" + server_.host)
        return Refuse();
      beast::error_code peerError;
      const auto peer = stream_.socket().remote_endpoint(peerError);
      std::string address = peerError ? "?" : peer.address().to_string() + ":" + std::to_string(peer.port());
      auto viewer = std::make_shared<TViewer>(server_, std::move(stream_), std::move(address));
      viewer->Start(parser_->release());
      return;
    }
    if (request.method() != http::verb::get || PathOf(target) != "/")
      return Respond(http::status::not_found, "text/plain; charset=utf-8", "Not found\n");
    Respond(http::status::ok, "text/html; charset=utf-8", server_.page);
  }

  void Refuse() {
    refused_ = true;
    Respond(http::status::forbidden, "text/plain; charset=utf-8", std::string(kRefusal));
  }

  void Respond(http::status status, const char* type, std::string body) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11, std::move(body));
    response->set(http::field::content_type, type);
    response->set(http::field::cache_control, "no-store");
    // The key is in the address: no other page may learn it or frame this one.
    response->set("Referrer-Policy", "no-referrer");
    response->set("Content-Security-Policy",
                  "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                  "connect-src 'self'; frame-ancestors 'none'");
    response->set("X-Content-Type-Options", "nosniff");
    response->keep_alive(false);
    response->prepare_payload();
    // A refusal waits on no one: the connection goes once the answer is out or the short time is up.
    stream_.expires_after(refused_ ? server_.options.RequestLineTime : server_.options.RequestTime);
    http::async_write(stream_, *response, [self = shared_from_this(), response](beast::error_code, size_t) {
      beast::error_code ignored;
      self->stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    });
  }

  TShareServerImpl& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  const std::string address_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::chrono::steady_clock::time_point requestEnd_;
  bool lineCame_ = false;
  bool refused_ = false;
};

void TShareServerImpl::Accept() {
  acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    // Past the limits a connection is closed as it comes, before it costs anything.
    beast::error_code peerError;
    const auto peer = socket.remote_endpoint(peerError);
    if (!ec && !peerError && pending < options.MaxPending) {
      std::string address = peer.address().to_string();
      const auto from = pendingFrom.find(address);
      if (from == pendingFrom.end() || from->second < options.MaxPendingPerAddress)
        std::make_shared<THttpSession>(*this, std::move(socket), std::move(address))->Start();
    }
    Accept();
  });
}

void TShareServerImpl::OfferAll() {
  offerPosted = false;
  for (TViewer* viewer : viewerSet) viewer->Offer();
}

TShareServer::TShareServer(TPictureFeed& feed, TShareOptions options, TRemoteKeyHandler onKey)
    : impl_(std::make_unique<TShareServerImpl>(feed, std::move(options), std::move(onKey))) {
  TShareServerImpl& s = *impl_;
  s.page = std::string(kSharePage);
  const std::string marker = "/*VIEWER*/";
  s.page.replace(s.page.find(marker), marker.size(), kShareScript);
  s.hello = "{\"keys\":[";
  if (s.options.KeysAllowed)
    for (size_t i = 0; i < s.options.KeyLabels.size(); ++i)
      s.hello += (i ? "," : "") + JsonString(s.options.KeyLabels[i]);
  s.hello += "],\"viewers\":" + std::to_string(s.options.MaxViewers) + "}";

  try {
    const tcp::endpoint endpoint(net::ip::make_address(s.options.Address), s.options.Port);
    s.acceptor.open(endpoint.protocol());
    // No reuse of the address: on Windows it would let another program take the port too.
    s.acceptor.bind(endpoint);
    s.acceptor.listen(net::socket_base::max_listen_connections);
  } catch (const boost::system::system_error& e) {
    throw std::system_error(e.code().value(), std::system_category(), e.what());
  }
  s.port = s.acceptor.local_endpoint().port();
  s.host = s.options.Address + ":" + std::to_string(s.port);
  s.Accept();
  feed.SetListener([&s] {
    if (!s.offerPosted.exchange(true)) net::post(s.ioc, [&s] { s.OfferAll(); });
  });
  s.thread = std::thread([&s] { s.ioc.run(); });
}

TShareServer::~TShareServer() {
  TShareServerImpl& s = *impl_;
  s.feed.SetListener(nullptr);
  net::post(s.ioc, [&s] {
    beast::error_code ignored;
    s.acceptor.close(ignored);
    for (TConnection* c : s.open) c->Close();
    s.ioc.stop();
  });
  s.thread.join();
}

uint16_t TShareServer::Port() const { return impl_->port; }
size_t TShareServer::Viewers() const { return impl_->viewers; }
size_t TShareServer::DroppedPresses() const { return impl_->droppedPresses; }

std::string SharePath(const std::string& key) { return "/?key=" + key; }

}  // namespace ts
