// The screen model and the picture feed that shows it against the mirror's rule
// written out here, and the server as a browser and a hostile client see it, on
// loopback.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <fstream>
#include <map>
#include <random>
#include <regex>

#include "screen/ScreenModel.h"
#include "share/BrowserProtocol.h"
#include "share/ShareAssets.h"
#include "share/ShareServer.h"

namespace ts {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

constexpr char kKey[] = "00112233445566778899aabbccddeeff";

std::array<uint8_t, 64> Report(uint8_t group, uint8_t half, std::mt19937& random) {
  std::array<uint8_t, 64> r{};
  for (int k = 0; k < kPixelBytes; ++k) r[size_t(k)] = static_cast<uint8_t>(random());
  r[kLineGroupByte] = group;
  r[kSecondHalfByte] = half;
  return r;
}

bool FeedBlack(const TFeedState& s, int x, int y) {
  return (s.Bits[size_t(y) * kFeedRowBytes + size_t(x / 8)] >> (7 - x % 8)) & 1;
}

// Every group, both halves, groups past the screen too. Each half of group 0
// presents, as it does in the mirror: two presents a frame.
void FeedFrame(TScreenModel& model, std::mt19937& random) {
  for (int group = 85; group >= 0; --group)
    for (uint8_t half : {0, 1}) model.Take(Report(static_cast<uint8_t>(group), half, random).data(), 64);
}

// The mirror's rule read straight from the instrument's layout, apart from the
// code under test: the report over the last one, drawn at its group's rows.
struct TReferenceMirror {
  std::array<uint8_t, 64> buffer{};
  std::vector<uint8_t> black = std::vector<uint8_t>(size_t(kPictureWidth) * kPictureHeight, 1);
  bool Take(const uint8_t* data, size_t size) {
    std::copy_n(data, std::min<size_t>(size, 64), buffer.begin());
    const int g = buffer[60], top = 3 * g + 3;
    auto tile = [&](int k, int x, int y) {
      for (int b = 0; b < 8 && y < kPictureHeight; ++b)
        black[size_t(y) * kPictureWidth + size_t(x + b)] = uint8_t((buffer[size_t(k)] >> (7 - b)) & 1);
    };
    for (int k = 0; k < 60; ++k) {
      if (buffer[61] == 0)
        tile(k, k < 40 ? 3 + 8 * k : 3 + 8 * (k - 40), k < 40 ? top : top + 1);
      else
        tile(k, k < 20 ? 163 + 8 * k : 3 + 8 * (k - 20), k < 20 ? top + 1 : top + 2);
    }
    return g == 0;
  }
};

// Odd sizes, halves other than 0 and 1, groups past the screen, the picture
// output switched off and on: the model holds the mirror's picture, and whatever
// the mirror presents, the page is sent.
TEST(ScreenModel, PresentsWhatTheMirrorPresentsForAnyReports) {
  for (const uint32_t seed : {1u, 2u, 3u}) {
    std::mt19937 random(seed);
    TScreenModel model;
    TPictureFeed feed;
    model.AddView(Bind(&feed, &TPictureFeed::Show));
    bool output = true;
    struct TSwitch {
      bool& on;
      bool Get() { return on; }
    } outputSwitch{output};
    model.OutputOn = Bind(&outputSwitch, &TSwitch::Get);
    TReferenceMirror mirror;
    uint64_t presents = 0;
    for (int i = 0; i < 2000; ++i) {
      std::array<uint8_t, 70> r{};
      for (uint8_t& b : r) b = static_cast<uint8_t>(random());
      r[60] = static_cast<uint8_t>(random() % 4 == 0 ? 0 : random() % 86);
      r[61] = static_cast<uint8_t>(std::array{0, 1, 2, 255}[random() % 4]);
      const uint16_t size = static_cast<uint16_t>(std::array{64, 64, 64, 0, 1, 61, 62, 70}[random() % 8]);
      output = random() % 16 != 0;
      const bool presented = output && mirror.Take(r.data(), size);
      presents += presented;
      ASSERT_EQ(model.Take(r.data(), size), presented) << "seed " << seed << ", report " << i;
      TFeedState state;
      feed.Update(state);
      ASSERT_EQ(state.Presents, presents) << "seed " << seed << ", report " << i << ", size " << size;
      if (!presented) continue;
      std::array<uint8_t, kFeedBytes> page{};
      model.CopyScreen(page.data());
      ASSERT_TRUE(state.Bits == page) << "seed " << seed << ", report " << i;
      // Every pixel, of the page and of the whole picture, now and then.
      if (presents % 16 != 0) continue;
      int wrong = 0;
      for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x) {
          const bool black = mirror.black[size_t(y) * kPictureWidth + size_t(x)];
          wrong += model.Black(x, y) != black;
          if (x >= kScreenMargin && x < kScreenMargin + kScreenWidth && y >= kScreenMargin &&
              y < kScreenMargin + kScreenHeight)
            wrong += FeedBlack(state, x - kScreenMargin, y - kScreenMargin) != black;
        }
      ASSERT_EQ(wrong, 0) << "seed " << seed << ", report " << i << ", size " << size;
    }
    EXPECT_EQ(model.Presents(), presents);
  }
}

TEST(PictureFeed, TellsTheLinkApartFromThePicture) {
  TPictureFeed feed;
  TFeedState state;
  EXPECT_FALSE(feed.Update(state));
  feed.SetLink(true, 64000);
  EXPECT_TRUE(feed.Update(state));
  EXPECT_TRUE(state.Linked);
  EXPECT_EQ(state.Presents, 0u);
  EXPECT_FALSE(feed.Update(state));
}

struct Served {
  TScreenModel model;
  TPictureFeed feed;
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> presses;
  std::unique_ptr<TShareServer> server;
  explicit Served(bool keys = false) {
    TShareOptions o;
    o.Key = kKey;
    o.KeysAllowed = keys;
    o.KeyLabels = {"F1", "F2"};
    // Long enough that a viewer the test does not read for a while is not dropped.
    o.IdleTime = std::chrono::minutes(2);
    model.AddView(Bind(&feed, &TPictureFeed::Show));
    server = std::make_unique<TShareServer>(feed, o, [this](int key, const std::string& viewer) {
      std::lock_guard lock(mutex);
      presses.emplace_back(key, viewer);
    });
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(server->Port()); }
};

// The status of one request, or 0 when the server closed without an answer.
int Status(const Served& s, const std::string& target,
           const std::vector<std::pair<std::string, std::string>>& fields, std::string* body = nullptr) {
  net::io_context ioc;
  beast::tcp_stream stream(ioc);
  stream.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), s.server->Port()));
  http::request<http::empty_body> request(http::verb::get, target, 11);
  request.set(http::field::host, s.Host());
  for (const auto& [name, value] : fields) request.set(name, value);
  http::write(stream, request);
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  beast::error_code ec;
  http::read(stream, buffer, response, ec);
  if (ec) return 0;
  if (body) *body = response.body();
  return response.result_int();
}

// Each value of the document's table, in the page's script under the same name
// and in the server's constant.
TEST(BrowserProtocol, TheDocumentThePageAndTheServerAgree) {
  std::ifstream doc(TS_BROWSER_PROTOCOL_DOC);
  ASSERT_TRUE(doc) << TS_BROWSER_PROTOCOL_DOC;
  std::map<std::string, std::string> documented;
  const std::regex row(R"(^\| `(k\w+)` \| ([^|]*[^ |]) \|)");
  for (std::string line; std::getline(doc, line);)
    if (std::smatch m; std::regex_search(line, m, row)) documented[m[1]] = m[2];
  auto number = [](size_t n) { return std::to_string(n); };
  auto text = [](const char* t) { return "'" + std::string(t) + "'"; };
  const std::pair<const char*, std::string> server[] = {
      {"kWidth", number(kScreenWidth)},
      {"kHeight", number(kScreenHeight)},
      {"kFlagsAt", number(kPictureFlagsAt)},
      {"kRateAt", number(kPictureRateAt)},
      {"kPresentsAt", number(kPicturePresentsAt)},
      {"kHeader", number(kPictureHeader)},
      {"kLinked", number(kPictureLinked)},
      {"kChangedRows", number(kPictureChangedRows)},
      {"kSocketPath", text(kViewerSocketPath)},
      {"kKeyPress", text(kKeyPressPrefix)},
      {"kTooManyViewers", text(kTooManyViewers)},
  };
  EXPECT_EQ(documented.size(), std::size(server)) << "a value documented or served, not both";
  const std::string script = kShareScript;
  for (const auto& [name, value] : server) {
    SCOPED_TRACE(name);
    EXPECT_EQ(documented[name], value) << "the document";
    const std::string declared = std::string(name) + " = " + value;
    EXPECT_TRUE(script.find(declared + ",") != std::string::npos ||
                script.find(declared + ";") != std::string::npos)
        << "the page's script";
  }
}

TEST(ShareServer, RefusesWithoutTheKeyOrFromAnotherOrigin) {
  Served s;
  const std::string origin = "http://" + s.Host();
  const std::string wsKey = "dGhlIHNhbXBsZSBub25jZQ==";
  auto upgrade = [&](std::string o) {
    std::vector<std::pair<std::string, std::string>> f{{"Upgrade", "websocket"},
                                                       {"Connection", "Upgrade"},
                                                       {"Sec-WebSocket-Key", wsKey},
                                                       {"Sec-WebSocket-Version", "13"}};
    if (!o.empty()) f.emplace_back("Origin", o);
    return f;
  };
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 41; ++i) many.emplace_back("X-Field-" + std::to_string(i), "1");
  struct Case {
    const char* what;
    std::string target;
    std::vector<std::pair<std::string, std::string>> fields;
    int status;
  } cases[] = {
      {"page without key", "/", {}, 403},
      {"page with a wrong key", "/?key=00112233445566778899aabbccddeefe", {}, 403},
      {"page with a prefix of the key", "/?key=0011", {}, 403},
      {"page", std::string("/?key=") + kKey, {}, 200},
      {"other path", std::string("/x?key=") + kKey, {}, 404},
      {"too many fields", std::string("/?key=") + kKey, many, 403},
      {"socket without key", "/ws", upgrade(origin), 403},
      {"socket from another origin", std::string("/ws?key=") + kKey, upgrade("http://evil.example"), 403},
      {"socket without origin", std::string("/ws?key=") + kKey, upgrade(""), 403},
      {"socket", std::string("/ws?key=") + kKey, upgrade(origin), 101},
      // A page a rebinding name brings here: the key would hold, but nothing is served to it.
      {"page for another host", std::string("/?key=") + kKey, {{"Host", "evil.example"}}, 403},
      {"page for the port alone", std::string("/?key=") + kKey, {{"Host", "127.0.0.1"}}, 403},
      {"socket for another host", std::string("/ws?key=") + kKey,
       [&] {
         auto f = upgrade("http://evil.example:" + std::to_string(s.server->Port()));
         f.emplace_back("Host", "evil.example:" + std::to_string(s.server->Port()));
         return f;
       }(),
       403},
  };
  for (const Case& c : cases) {
    std::string body;
    const int status = Status(s, c.target, c.fields, &body);
    EXPECT_EQ(status, c.status) << c.what;
    if (status == 403) {
      EXPECT_EQ(body, "Forbidden\n") << c.what;
    }
    if (c.status == 200) {
      EXPECT_NE(body.find("<canvas id=\"screen\" width=\"320\" height=\"240\">"), std::string::npos);
    }
  }
}

class Viewer {
 public:
  explicit Viewer(const Served& s) : ws_(ioc_) {
    beast::get_lowest_layer(ws_).connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), s.server->Port()));
    ws_.set_option(websocket::stream_base::decorator(
        [origin = "http://" + s.Host()](websocket::request_type& r) { r.set(http::field::origin, origin); }));
    ws_.handshake(s.Host(), std::string("/ws?key=") + kKey);
  }
  // The next message as text, or "" with `ec` set.
  std::string Next(beast::error_code& ec) {
    beast::flat_buffer buffer;
    beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(10));
    ws_.read(buffer, ec);
    return beast::buffers_to_string(buffer.data());
  }
  std::string Next() {
    beast::error_code ec;
    std::string m = Next(ec);
    EXPECT_FALSE(ec) << ec.message();
    return m;
  }
  // Reads pictures until one with this present count; answers the picture the
  // viewer then has, or "" when a message was not a picture.
  std::string PictureNumber(uint32_t presents) {
    for (int i = 0; i < 1000; ++i) {
      const std::string m = Next();
      if (m.size() < 9 + kScreenHeight / 8 || m[0] & ~3) return "";
      size_t at = 9;
      if (m[0] & 2) {  // the rows that changed
        at += kScreenHeight / 8;
        for (size_t row = 0; row < kScreenHeight; ++row) {
          if (!((uint8_t(m[9 + row / 8]) >> (row % 8)) & 1)) continue;
          if (at + kFeedRowBytes > m.size()) return "";
          has_.replace(row * kFeedRowBytes, kFeedRowBytes, m, at, kFeedRowBytes);
          at += kFeedRowBytes;
        }
      } else {
        if (m.size() != 9 + kFeedBytes) return "";
        has_ = m.substr(9);
        at += kFeedBytes;
      }
      if (at != m.size()) return "";
      uint32_t n = 0;
      for (int b = 0; b < 4; ++b) n |= uint32_t(uint8_t(m[size_t(5 + b)])) << (8 * b);
      if (n >= presents) return has_;
    }
    return "";
  }
  void Send(const std::string& text) { ws_.write(net::buffer(text)); }
  websocket::stream<beast::tcp_stream>& Socket() { return ws_; }

 private:
  net::io_context ioc_;
  websocket::stream<beast::tcp_stream> ws_;
  std::string has_ = std::string(kFeedBytes, '\0');
};

TEST(ShareServer, EachViewerGetsTheNewestPictureWhateverTheOthersDo) {
  Served s;
  std::mt19937 random(3);
  Viewer good(s);
  EXPECT_EQ(good.Next(), "{\"keys\":[],\"viewers\":16}");
  // Connected and never reading: its socket fills, and it must hold no one up.
  std::vector<std::unique_ptr<Viewer>> others;
  for (int i = 0; i < 15; ++i) others.push_back(std::make_unique<Viewer>(s));
  ASSERT_TRUE([&] {
    for (int i = 0; i < 500 && s.server->Viewers() != 16; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return s.server->Viewers() == 16;
  }());
  Viewer refused(s);
  beast::error_code ec;
  refused.Next(ec);
  EXPECT_EQ(ec, websocket::error::closed);
  EXPECT_EQ(refused.Socket().reason().reason, "too many viewers");

  for (int frame = 0; frame < 300; ++frame) FeedFrame(s.model, random);
  TFeedState last;
  s.feed.Update(last);
  const std::string picture = good.PictureNumber(600);
  EXPECT_TRUE(picture == std::string(last.Bits.begin(), last.Bits.end())) << "the newest picture differs";
  FeedFrame(s.model, random);
  s.feed.Update(last);
  EXPECT_TRUE(good.PictureNumber(602) == std::string(last.Bits.begin(), last.Bits.end()))
      << "the next picture differs";

  s.server.reset();  // Stop: every viewer is closed at once
  for (int i = 0; i < 1000 && !ec; ++i) good.Next(ec);
  EXPECT_TRUE(ec);
}

TEST(ShareServer, PassesKeyPressesOnlyWhenAllowed) {
  for (bool allowed : {false, true}) {
    Served s(allowed);
    Viewer v(s);
    EXPECT_EQ(v.Next(),
              allowed ? "{\"keys\":[\"F1\",\"F2\"],\"viewers\":16}" : "{\"keys\":[],\"viewers\":16}");
    for (const char* m :
         {"key 1", "key 2", "key -1", "key 1x", "key ", "press 0", "key 99999999999", "key 0"})
      v.Send(m);
    // The server reads a viewer's messages in order: once the close has ended the
    // viewer, every press before it has been taken or refused.
    v.Socket().close(websocket::close_code::normal);
    for (int i = 0; i < 1000 && s.server->Viewers() != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(s.server->Viewers(), 0u);
    std::lock_guard lock(s.mutex);
    std::vector<int> keys;
    for (const auto& p : s.presses) {
      keys.push_back(p.first);
      EXPECT_EQ(p.second.rfind("127.0.0.1:", 0), 0u);
    }
    EXPECT_EQ(keys, allowed ? std::vector<int>({1, 0}) : std::vector<int>()) << allowed;
  }
}

// Sockets that never get past the key, all from one address, leave the others in.
TEST(ShareServer, KeylessSocketsKeepNoViewerOut) {
  Served s;
  net::io_context ioc;
  std::vector<tcp::socket> held;
  for (int i = 0; i < 60; ++i) {
    held.emplace_back(ioc);
    held.back().open(tcp::v4());
    held.back().bind(tcp::endpoint(net::ip::make_address("127.0.0.2"), 0));
    held.back().connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), s.server->Port()));
  }
  Viewer viewer(s);
  EXPECT_EQ(viewer.Next(), "{\"keys\":[],\"viewers\":16}");
  EXPECT_EQ(Status(s, std::string("/?key=") + kKey, {}), 200);
}

// A viewer pressing faster than anyone presses by hand has the excess dropped and
// counted; another viewer's presses still pass.
TEST(ShareServer, LimitsEachViewersPresses) {
  Served s(true);
  Viewer flood(s), calm(s);
  flood.Next();
  calm.Next();
  constexpr size_t kFlood = 1000;
  for (size_t i = 0; i < kFlood; ++i) flood.Send("key 0");
  calm.Send("key 1");
  for (Viewer* v : {&flood, &calm}) v->Socket().close(websocket::close_code::normal);
  for (int i = 0; i < 1000 && s.server->Viewers() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(s.server->Viewers(), 0u);
  std::lock_guard lock(s.mutex);
  const auto floods = static_cast<size_t>(
      std::count_if(s.presses.begin(), s.presses.end(), [](const auto& p) { return p.first == 0; }));
  EXPECT_LT(floods, kFlood / 2);
  EXPECT_EQ(floods + s.server->DroppedPresses(), kFlood);
  EXPECT_EQ(s.presses.size() - floods, 1u) << "the other viewer's press";
}

}  // namespace
}  // namespace ts
