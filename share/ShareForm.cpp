#include "share/ShareForm.h"

// Winsock first: the adapter list's types need it.
#include <winsock2.h>
// clang-format off
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <bcrypt.h>
// clang-format on

#include <system_error>

#include "ui/Application.h"
#include "ui/Cp1251.h"
#include "ui/Exception.h"

namespace ts {

namespace {

constexpr UINT kPressesMessage = WM_APP + 1;
constexpr size_t kPendingPresses = 16;
// Each press is written to the instrument before the next: a few at a time, so
// the operator's own input and the mirror come between.
constexpr size_t kPressesPerMessage = 4;
constexpr wchar_t kDefaultPort[] = L"4170";

std::wstring ViewersText(size_t count) { return L"Зрителей сейчас: " + std::to_wstring(count); }

}  // namespace

std::vector<TListenPlace> ListenPlaces() {
  std::vector<TListenPlace> places{{L"Только этот компьютер (127.0.0.1)", "127.0.0.1"}};
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_INET,
                                  GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return places;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
      if (in->sin_family != AF_INET) continue;
      char text[INET_ADDRSTRLEN] = {};
      if (!inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) continue;
      places.push_back({L"Локальная сеть: " + std::wstring(a->FriendlyName ? a->FriendlyName : L"") + L" (" +
                            Widen(text) + L")",
                        text});
    }
  }
  return places;
}

std::string NewAccessKey() {
  unsigned char bytes[16];
  if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
    throw Exception("Не удалось получить случайный ключ доступа");
  static constexpr char kHex[] = "0123456789abcdef";
  std::string key;
  for (unsigned char b : bytes) {
    key += kHex[b >> 4];
    key += kHex[b & 15];
  }
  return key;
}

TShareForm::TShareForm(TPictureFeed& feed, std::vector<std::string> keyLabels)
    : feed_(feed), keyLabels_(std::move(keyLabels)), places_(ListenPlaces()) {}

TShareForm::~TShareForm() {
  // The server's thread posts to this window: it ends first.
  server_.reset();
  DestroyHandle();
}

void TShareForm::DefineWindow() {
  std::vector<std::wstring> items;
  for (const TListenPlace& p : places_) items.push_back(p.Name);
  PlaceRadioGroup.SetItems(items);
  const int placesHeight = 22 + 22 * static_cast<int>(items.size());
  const int y = 16 + placesHeight;
  auto click = [this](void (TShareForm::*handler)(TObject*)) { return Bind(this, handler); };
  Build(TFormDef{.Caption = L"Показ экрана в браузере",
                 .ClientWidth = 420,
                 .ClientHeight = y + 168,
                 .Border = TBorderStyle::Dialog,
                 .BorderIcons = biSystemMenu,
                 .Position = TPosition::ScreenCenter},
        {
            // clang-format off
            {.Control = &PlaceRadioGroup, .Left = 8, .Top = 8, .Width = 404, .Height = placesHeight, .Caption = L"Кто может смотреть", .Value = 0},
            {.Control = &PortLabel, .Left = 8, .Top = y + 4, .Width = 40, .Height = 16, .Caption = L"Порт:"},
            {.Control = &PortEdit, .Left = 52, .Top = y, .Width = 64, .Height = 22, .Caption = kDefaultPort, .MaxLength = 5},
            {.Control = &KeysCheckBox, .Left = 8, .Top = y + 28, .Width = 404, .Height = 22, .Caption = L"Зрители могут нажимать клавиши прибора"},
            {.Control = &StartButton, .Left = 8, .Top = y + 58, .Width = 150, .Height = 25, .Caption = L"Начать показ", .OnClick = click(&TShareForm::StartButtonClick)},
            {.Control = &ViewersLabel, .Left = 172, .Top = y + 63, .Width = 240, .Height = 16, .Caption = L"Зрителей сейчас: 0"},
            {.Control = &AddressLabel, .Left = 8, .Top = y + 92, .Width = 404, .Height = 16, .Caption = L"Адрес для зрителей, с ключом доступа:"},
            {.Control = &AddressEdit, .Left = 8, .Top = y + 110, .Width = 310, .Height = 22, .Flags = kReadOnly},
            {.Control = &CopyButton, .Left = 324, .Top = y + 109, .Width = 88, .Height = 24, .Caption = L"Копировать", .Flags = kDisabled, .OnClick = click(&TShareForm::CopyButtonClick)},
            {.Control = &WarningLabel, .Left = 8, .Top = y + 144, .Width = 404, .Height = 16, .Caption = L"Показ не шифруется: в локальной сети его и ключ могут прочесть другие."},
            // clang-format on
        });
  SendMessageW(AddressEdit.Handle(), EM_SETREADONLY, TRUE, 0);
  ViewersTimer.Start(this, 300, click(&TShareForm::ViewersTimerTimer));
}

void TShareForm::StartButtonClick(TObject*) {
  if (Sharing()) {
    Stop();
  } else {
    Start();
  }
}

void TShareForm::Start() {
  const std::wstring portText = PortEdit.Text();
  int port = 0;
  for (wchar_t c : portText) port = (c >= L'0' && c <= L'9' && port < 65536) ? port * 10 + (c - L'0') : 70000;
  if (portText.empty() || port < 1 || port > 65535) {
    Application->ShowMessage(L"Порт — число от 1 до 65535.");
    return;
  }
  const int index = PlaceRadioGroup.ItemIndex();
  const TListenPlace& place = places_[index > 0 ? size_t(index) : 0];
  TShareOptions options;
  options.Address = place.Address;
  options.Port = static_cast<uint16_t>(port);
  options.Key = NewAccessKey();
  options.KeysAllowed = KeysCheckBox.Checked();
  options.KeyLabels = keyLabels_;
  try {
    server_ = std::make_unique<TShareServer>(
        feed_, options, [this](int key, const std::string& viewer) { RemoteKey(key, viewer); });
  } catch (const std::system_error& e) {
    Application->ShowMessage(L"Не удалось начать показ на " + Widen(place.Address) + L":" + portText +
                             L" (код ошибки " + std::to_wstring(e.code().value()) +
                             L"). Возможно, порт занят: выберите другой.");
    return;
  }
  AddressEdit.SetText(
      Widen("http://" + place.Address + ":" + std::to_string(server_->Port()) + SharePath(options.Key)));
  ShowState();
}

void TShareForm::Stop() {
  if (!server_) return;
  const size_t dropped = server_->DroppedPresses();
  server_.reset();
  ReportDropped(dropped);
  loggedDropped_ = seenDropped_ = 0;
  {
    std::lock_guard lock(pressesMutex_);
    presses_.clear();
  }
  AddressEdit.SetText(L"");
  ShowState();
}

void TShareForm::ShowState() {
  const bool on = Sharing();
  StartButton.SetText(on ? L"Остановить показ" : L"Начать показ");
  PlaceRadioGroup.SetEnabled(!on);
  PortEdit.SetEnabled(!on);
  KeysCheckBox.SetEnabled(!on);
  CopyButton.SetEnabled(on);
  shownViewers_ = Viewers();
  ViewersLabel.SetText(ViewersText(shownViewers_));
  if (OnChange) OnChange(this);
}

void TShareForm::ViewersTimerTimer(TObject*) {
  if (Viewers() != shownViewers_) ShowState();
  if (!server_) return;
  // Told once the dropping has stopped for a tick: one line however long it went on.
  const size_t dropped = server_->DroppedPresses();
  if (dropped == seenDropped_) ReportDropped(dropped);
  seenDropped_ = dropped;
}

void TShareForm::ReportDropped(size_t dropped) {
  if (dropped > loggedDropped_ && OnPressesDropped) OnPressesDropped(dropped - loggedDropped_);
  loggedDropped_ = dropped;
}

void TShareForm::CopyButtonClick(TObject*) {
  const std::wstring text = AddressEdit.Text();
  if (text.empty() || !OpenClipboard(handle_)) return;
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* p = GlobalLock(memory)) {
      std::memcpy(p, text.c_str(), bytes);
      GlobalUnlock(memory);
    }
    // The clipboard owns the memory once it takes it.
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  }
  CloseClipboard();
}

void TShareForm::RemoteKey(int key, const std::string& viewer) {
  {
    std::lock_guard lock(pressesMutex_);
    // A viewer pressing faster than the instrument takes keys loses the excess.
    if (presses_.size() >= kPendingPresses) return;
    presses_.emplace_back(key, viewer);
    // One message on its way at a time, or they would crowd out everything else.
    if (pressesPosted_) return;
    pressesPosted_ = true;
  }
  PostMessageW(handle_, kPressesMessage, 0, 0);
}

LRESULT TShareForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != kPressesMessage) return TForm::WndProc(msg, wParam, lParam);
  for (size_t taken = 0;; ++taken) {
    std::pair<int, std::string> press;
    {
      std::lock_guard lock(pressesMutex_);
      if (presses_.empty()) {
        pressesPosted_ = false;
        break;
      }
      if (taken == kPressesPerMessage) {
        PostMessageW(handle_, kPressesMessage, 0, 0);
        break;
      }
      press = std::move(presses_.front());
      presses_.pop_front();
    }
    if (OnRemoteKey && Sharing()) OnRemoteKey(press.first, Widen(press.second));
  }
  return 0;
}

}  // namespace ts
