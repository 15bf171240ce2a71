#pragma once
// Serves the shared screen to browsers: the page, and to each viewer a WebSocket
// that carries the latest picture and the link's state. Runs on a thread of its
// own; nothing it does waits on the user interface thread or the mirror.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "share/PictureFeed.h"

namespace ts {

struct TShareOptions {
  std::string Address = "127.0.0.1";   // the interface to listen on
  uint16_t Port = 0;                   // 0: any free port
  std::string Key;                     // the access key every request must carry
  bool KeysAllowed = false;            // whether viewers may press the instrument's keys
  std::vector<std::string> KeyLabels;  // the keypad, UTF-8, in the order of their numbers
  size_t MaxViewers = 16;
  // Connections not yet past the key, in all and from one address: viewers'
  // slots are apart, so no one without the key can take them. One address may
  // open as many as viewers may watch, all at once.
  size_t MaxPending = 64;
  size_t MaxPendingPerAddress = 16;
  std::chrono::milliseconds RequestLineTime{1000};
  std::chrono::milliseconds RequestTime{5000};
  // Presses a viewer may make in a second (and at once); more are dropped.
  int PressesPerSecond = 10;
  std::chrono::milliseconds IdleTime{20000};
};

// A viewer pressed key `key` (an index into KeyLabels); `viewer` is its address.
// Called on the server's thread; must not block.
using TRemoteKeyHandler = std::function<void(int key, const std::string& viewer)>;

class TShareServer {
 public:
  // Listens and starts serving; throws std::system_error when it cannot listen.
  TShareServer(TPictureFeed& feed, TShareOptions options, TRemoteKeyHandler onKey);
  // Closes every connection at once and ends the thread.
  ~TShareServer();
  TShareServer(const TShareServer&) = delete;
  TShareServer& operator=(const TShareServer&) = delete;

  uint16_t Port() const;
  size_t Viewers() const;
  // Presses dropped for coming faster than PressesPerSecond, since the start.
  size_t DroppedPresses() const;

 private:
  std::unique_ptr<struct TShareServerImpl> impl_;
};

// The part of the address after host and port that opens the page.
std::string SharePath(const std::string& key);

}  // namespace ts
