// The pipe server against plain clients, as the program's HID layer opens it.

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they build on.
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/PipeServer.h"
#include "tests/windows/sim/PipeClient.h"
#include "ui/Exception.h"
#include "ui/WinHandle.h"

namespace ts::sim {
namespace {

Report Numbered(uint32_t n) {
  Report r{};
  std::memcpy(r.data() + 1, &n, sizeof n);
  r[61] = uint8_t(n % 80);
  return r;
}

uint32_t NumberOf(const std::vector<uint8_t>& bytes) {
  uint32_t n = 0;
  std::memcpy(&n, bytes.data() + 1, sizeof n);
  return n;
}

PipeServer::Options Quiet(const std::wstring& name, size_t queueLimit = 256) {
  return PipeServer::Options{name, queueLimit, false};
}

TEST(PipeServer, EveryClientGetsEveryReportInOrder) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<Client>(name));
    ASSERT_TRUE(clients.back()->Open()) << clients.back()->OpenError();
  }
  ASSERT_TRUE(server.WaitForClientCount(3, Deadline()));

  constexpr uint32_t kCount = 200;  // within the queue limit, so nothing may be dropped
  for (uint32_t i = 0; i < kCount; ++i) server.SendReport(Numbered(i));
  for (auto& c : clients) {
    for (uint32_t i = 0; i < kCount; ++i) {
      const auto m = c->ReadMessage(Deadline());
      ASSERT_TRUE(m && m->ok) << "report " << i;
      ASSERT_EQ(m->bytes.size(), kReportSize);
      ASSERT_EQ(NumberOf(m->bytes), i);
      const Report expected = Numbered(i);
      ASSERT_TRUE(std::equal(m->bytes.begin(), m->bytes.end(), expected.begin())) << "report " << i;
    }
  }
  EXPECT_EQ(server.DroppedReports(), 0u);
}

TEST(PipeServer, AClientThatDoesNotReadLosesItsOldestAndStallsNoOne) {
  const std::wstring name = UniqueName();
  constexpr size_t kLimit = 16;
  PipeServer server(Quiet(name, kLimit));
  server.Plug();
  Client idle(name), reader(name);
  ASSERT_TRUE(idle.Open() && reader.Open());
  ASSERT_TRUE(server.WaitForClientCount(2, Deadline()));

  // The reader keeps up while the idle client reads nothing at all.
  constexpr uint32_t kCount = 2000;
  for (uint32_t i = 0; i < kCount; ++i) {
    server.SendReport(Numbered(i));
    const auto m = reader.ReadMessage(Deadline());
    ASSERT_TRUE(m && m->ok) << "report " << i;
    ASSERT_EQ(NumberOf(m->bytes), i);
  }
  EXPECT_GT(server.DroppedReports(), 0u);

  // Now the idle client reads: the first few (in the pipe), a gap, and then the
  // newest, always in order and always ending with the last one sent.
  std::vector<uint32_t> got;
  while (got.empty() || got.back() != kCount - 1) {
    const auto m = idle.ReadMessage(Deadline());
    ASSERT_TRUE(m && m->ok) << "after " << got.size() << " reports";
    got.push_back(NumberOf(m->bytes));
  }
  EXPECT_LT(got.size(), size_t(kCount));
  EXPECT_GE(got.size(), kLimit);
  for (size_t i = 1; i < got.size(); ++i) ASSERT_LT(got[i - 1], got[i]);
  for (size_t i = got.size() - kLimit; i < got.size(); ++i) EXPECT_EQ(got[i], kCount - (got.size() - i));
}

TEST(PipeServer, ReceivesWholeOutputReportsAndIgnoresOtherSizes) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  std::vector<Report> handled;  // touched by the server thread until it is unplugged
  server.SetOutputHandler([&](const Report& r) { handled.push_back(r); });
  server.Plug();
  Client a(name), b(name);
  ASSERT_TRUE(a.Open() && b.Open());

  Report command{};
  const uint8_t head[] = {0x0F, 0x44, 0xAA, 0x0D, 0x2C, 0xDC, 0x05};
  std::memcpy(command.data(), head, sizeof head);
  command[64] = 0x99;  // the last byte arrives too
  std::vector<uint8_t> tooLong(66, 0x0F), huge(5000, 0x07), tooShort(64, 0x0F);
  ASSERT_TRUE(a.Write(tooShort.data(), tooShort.size()));
  ASSERT_TRUE(a.Write(tooLong.data(), tooLong.size()));
  ASSERT_TRUE(a.Write(huge.data(), huge.size()));
  ASSERT_TRUE(a.Write(command.data(), command.size()));
  command[0] = 0x07;
  ASSERT_TRUE(b.Write(command.data(), command.size()));

  const auto first = server.WaitForOutputReport(Deadline());
  const auto second = server.WaitForOutputReport(Deadline());
  ASSERT_TRUE(first && second);
  // The two clients' reports may come in either order; each arrives whole.
  std::vector<Report> both = {*first, *second};
  std::sort(both.begin(), both.end());
  Report expectedA = command, expectedB = command;
  expectedA[0] = 0x0F;
  EXPECT_EQ(both[0], expectedB);
  EXPECT_EQ(both[1], expectedA);
  EXPECT_EQ(server.IgnoredMessages(), 3u);
  EXPECT_FALSE(server.WaitForOutputReport(Clock::now()));
  server.Unplug();
  EXPECT_EQ(handled.size(), 2u);
  EXPECT_EQ(server.OutputReports().size(), 2u);
}

TEST(PipeServer, SendsRawMessagesOfAnySize) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  Client c(name);
  ASSERT_TRUE(c.Open());
  ASSERT_TRUE(server.WaitForClientCount(1, Deadline()));
  const size_t sizes[] = {0, 1, 2, 61, 62, 64, 66, 200};
  for (size_t size : sizes) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + size);
    server.SendRaw(bytes.data(), size);
    const auto m = c.ReadMessage(Deadline());
    ASSERT_TRUE(m && m->ok) << size;
    EXPECT_EQ(m->bytes, bytes) << "one message of " << size << " bytes";
  }
}

TEST(PipeServer, UnplugBreaksClientsReadsAndReplugAcceptsNewClients) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  Client waiting(name), idle(name);
  ASSERT_TRUE(waiting.Open() && idle.Open());
  ASSERT_TRUE(server.WaitForClientCount(2, Deadline()));
  EXPECT_FALSE(waiting.ReadMessage(Clock::now()));  // a read is now pending
  // More than the pipe holds, so the server is still writing to both clients.
  for (uint32_t i = 0; i < 100; ++i) server.SendReport(Numbered(i));

  server.Unplug();
  EXPECT_FALSE(server.IsPlugged());
  EXPECT_EQ(server.ClientCount(), 0u);
  // Each client may still take what reached its pipe before; then its read fails.
  for (Client* c : {&waiting, &idle}) {
    std::optional<Client::Read> r;
    while ((r = c->ReadMessage(Deadline())) && r->ok) {
    }
    ASSERT_TRUE(r) << "the read of a dropped client fails rather than hangs";
    EXPECT_FALSE(r->ok);
  }
  Client refused(name, false);
  EXPECT_FALSE(refused.Open());
  EXPECT_EQ(refused.OpenError(), DWORD(ERROR_FILE_NOT_FOUND));

  server.Plug();
  Client fresh(name);
  ASSERT_TRUE(fresh.Open()) << fresh.OpenError();
  ASSERT_TRUE(server.WaitForClientCount(1, Deadline()));
  server.SendReport(Numbered(7));
  const auto m = fresh.ReadMessage(Deadline());
  ASSERT_TRUE(m && m->ok);
  EXPECT_EQ(NumberOf(m->bytes), 7u);
}

TEST(PipeServer, ClientsComingAndGoingAreCountedAndASecondServerIsRefused) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  {
    Client a(name), b(name);
    ASSERT_TRUE(server.WaitForClientCount(2, Deadline()));
  }
  ASSERT_TRUE(server.WaitForClientCount(0, Deadline()));
  server.SendReport(Numbered(0));  // to nobody: nothing to do, nothing to fail

  PipeServer rival(Quiet(name));
  EXPECT_THROW(rival.Plug(), Exception);
  EXPECT_FALSE(rival.IsPlugged());

  Client c(name);
  ASSERT_TRUE(c.Open()) << "the first server still serves";
  ASSERT_TRUE(server.WaitForClientCount(1, Deadline()));
}

// The program's device scan opens the pipe and closes it again at once, again
// and again; the server must still be there for the next open.
TEST(PipeServer, ClientsThatOpenAndCloseAtOnceLeaveTheServiceRunning) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(WaitNamedPipeW(name.c_str(), 10000)) << "open " << i;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "open " << i;
    CloseHandle(h);
  }
  Client c(name);
  ASSERT_TRUE(c.Open());
  ASSERT_TRUE(server.WaitForClientCount(1, Deadline()));
  EXPECT_EQ(server.LastError(), "");
}

// The device-change broadcast reaches a top-level window, as the program's
// hidden watcher window is.
int changes = 0;
LRESULT CALLBACK CountDeviceChanges(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DEVICECHANGE && w == 7) ++changes;
  return DefWindowProcW(h, m, w, l);
}

TEST(PipeServer, PlugAndUnplugBroadcastTheDeviceChange) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &CountDeviceChanges;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TS4170DeviceChangeWatcher";
  RegisterClassW(&wc);
  HWND watcher = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
  ASSERT_TRUE(watcher);
  auto pumpUntil = [&](int count) {
    const auto deadline = Deadline();
    MSG msg;
    while (changes < count && Clock::now() < deadline) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return changes >= count;
  };
  const std::wstring name = UniqueName();
  PipeServer server(PipeServer::Options{name, 256, true});
  server.Plug();
  EXPECT_TRUE(pumpUntil(1));
  server.Unplug();
  EXPECT_TRUE(pumpUntil(2));
  DestroyWindow(watcher);
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return "(none)";
  std::string s = text;
  LocalFree(text);
  return s;
}

std::string CurrentUser() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE buffer[256];
  DWORD size = 0;
  const bool ok = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size);
  CloseHandle(token);
  return ok ? SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) : "";
}

// Nobody but the user who serves the pipe (and SYSTEM) may open it, and a flood
// of clients finds the door shut while those inside keep being served.
TEST(PipeServer, AdmitsItsOwnUserOnlyAndAFewClientsAtATime) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  std::vector<std::unique_ptr<Client>> clients;
  clients.push_back(std::make_unique<Client>(name));
  ASSERT_TRUE(clients[0]->Open()) << clients[0]->OpenError();

  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetSecurityInfo(clients[0]->Handle(), SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &dacl,
                            nullptr, &sd),
            DWORD(ERROR_SUCCESS));
  EXPECT_EQ(SidText(owner), CurrentUser());
  std::vector<std::string> allowed;
  ASSERT_TRUE(dacl) << "no DACL: everyone may open the pipe";
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    allowed.push_back(SidText(&ace->SidStart));
  }
  LocalFree(sd);
  std::vector<std::string> expected{CurrentUser(), "S-1-5-18"};
  std::sort(allowed.begin(), allowed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(allowed, expected);

  // Clients up to the cap; the next is refused at once, as "all instances busy".
  constexpr size_t kCap = 16;
  while (clients.size() < kCap) {
    clients.push_back(std::make_unique<Client>(name));
    ASSERT_TRUE(clients.back()->Open()) << "client " << clients.size() << ": " << clients.back()->OpenError();
  }
  ASSERT_TRUE(server.WaitForClientCount(kCap, Deadline()));
  Client extra(name, /*waitWhileBusy=*/false);
  EXPECT_FALSE(extra.Open()) << "a client beyond " << kCap << " was let in";
  EXPECT_EQ(extra.OpenError(), DWORD(ERROR_PIPE_BUSY));
  server.SendReport(Numbered(5));
  for (auto& c : clients) {
    const auto m = c->ReadMessage(Deadline());
    ASSERT_TRUE(m && m->ok);
    EXPECT_EQ(NumberOf(m->bytes), 5u);
  }
  // One leaves; the next one gets its place.
  clients.pop_back();
  Client next(name);
  EXPECT_TRUE(next.Open()) << next.OpenError();
  EXPECT_EQ(server.LastError(), "");
}

// Nothing waits on the server's thread for ever: held up in its owner's
// handler, the calls that wait for it give up with an error, the server's
// destructor returns, and its thread ends once the handler returns.
TEST(PipeServer, CallsThatWaitForAThreadHeldUpGiveUp) {
  const std::wstring name = UniqueName();
  // The handler may outlive the server, so it owns what it touches.
  const auto entered = std::make_shared<ts::TWinHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const auto release = std::make_shared<ts::TWinHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const auto left = std::make_shared<ts::TWinHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  auto server = std::make_unique<PipeServer>(Quiet(name));
  server->SetOutputHandler([entered, release, left](const Report&) {
    SetEvent(entered->Get());
    WaitForSingleObject(release->Get(), INFINITE);
    SetEvent(left->Get());
  });
  server->Plug();
  Client client(name);
  ASSERT_TRUE(client.Open()) << client.OpenError();
  const Report command = Numbered(1);
  ASSERT_TRUE(client.Write(command.data(), command.size()));
  ASSERT_EQ(WaitForSingleObject(entered->Get(), 30000), WAIT_OBJECT_0);
  const struct {
    const char* what;
    std::function<void()> call;
    const char* error;
  } calls[] = {{"Clients", [&] { server->Clients(); }, "did not answer"},
               {"Unplug", [&] { server->Unplug(); }, "did not answer"},
               {"~PipeServer", [&] { server.reset(); }, ""}};
  for (const auto& [what, call, expectedError] : calls) {
    SCOPED_TRACE(what);
    std::string error;
    const ts::TWinHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread waiter([&] {
      try {
        call();
      } catch (const std::exception& e) {
        error = e.what();
      }
      SetEvent(done.Get());
    });
    const bool ended = WaitForSingleObject(done.Get(), 60000) == WAIT_OBJECT_0;
    if (!ended) SetEvent(release->Get());  // lets a wait that never ends return, so the test can say so
    waiter.join();
    EXPECT_TRUE(ended) << "still waiting after a minute";
    EXPECT_NE(error.find(expectedError), std::string::npos) << error;
  }
  SetEvent(release->Get());
  EXPECT_EQ(WaitForSingleObject(left->Get(), 30000), WAIT_OBJECT_0);
}

// An instrument that runs for days keeps only the recent commands.
TEST(PipeServer, KeepsOnlyTheRecentOutputReports) {
  const std::wstring name = UniqueName();
  PipeServer server(Quiet(name));
  server.Plug();
  Client c(name);
  ASSERT_TRUE(c.Open());
  constexpr uint32_t kCount = 5000;
  for (uint32_t i = 0; i < kCount; ++i) {
    const Report r = Numbered(i);
    ASSERT_TRUE(c.Write(r.data(), r.size()));
  }
  for (uint32_t i = 0;; ++i) {
    const auto r = server.WaitForOutputReport(Deadline());
    ASSERT_TRUE(r) << "after " << i;
    if (NumberOf(std::vector<uint8_t>(r->begin(), r->end())) == kCount - 1) break;
  }
  const auto kept = server.OutputReports();
  ASSERT_FALSE(kept.empty());
  EXPECT_LT(kept.size(), size_t(kCount));
  EXPECT_EQ(NumberOf(std::vector<uint8_t>(kept.back().begin(), kept.back().end())), kCount - 1);
}

}  // namespace
}  // namespace ts::sim
