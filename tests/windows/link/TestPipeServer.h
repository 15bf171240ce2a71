#pragma once
// A small server of the virtual instrument's pipe for the tests: message mode,
// one thread per connected client, every report to every client. It can be
// unplugged and plugged again, and told never to read, to jam writers.

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/windows/support/Pump.h"

namespace ts::test {

class TestPipeServer {
 public:
  explicit TestPipeServer(std::string name, bool reads = true, DWORD inBufferSize = 65 * 64);
  ~TestPipeServer();
  TestPipeServer(const TestPipeServer&) = delete;
  TestPipeServer& operator=(const TestPipeServer&) = delete;

  // The pipe's owner, as a string SID; the current user when empty. Set before Plug.
  std::string Owner;

  // Returns once the first instance listens; a server that cannot be made
  // fails the test, saying why.
  void Plug();
  // Whether an instance waits for a client now.
  bool Listening() const;
  // Closes every instance: the clients' reads fail.
  void Unplug();

  // One message to every connected client; answers how many it reached.
  int Send(const std::vector<uint8_t>& message);
  int Clients();
  std::vector<std::vector<uint8_t>> Received();

 private:
  struct Client {
    HANDLE Pipe = INVALID_HANDLE_VALUE;
    std::atomic<bool> Alive{true};
    std::thread Thread;
  };
  void AcceptLoop();
  void ClientLoop(Client& client);

  std::string name_;
  bool reads_;
  DWORD inBufferSize_;
  HANDLE stop_;
  HANDLE listening_;
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<std::vector<uint8_t>> received_;
  std::string setupError_;
  std::atomic<bool> listens_{false};
};

// A pipe name of this process alone, so a running simulator is not disturbed.
std::string TestPipeName(const char* suffix);

}  // namespace ts::test
