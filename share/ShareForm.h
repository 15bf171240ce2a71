#pragma once
// The sharing dialog: where to listen, the port, whether viewers may press keys,
// Start/Stop, the address to give viewers and how many watch. Owns the server
// while sharing, and brings viewers' key presses to the user interface thread.

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "share/ShareServer.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/RadioGroup.h"
#include "ui/StdCtrls.h"

namespace ts {

// One place viewers may come from: this PC alone, or a network interface.
struct TListenPlace {
  std::wstring Name;
  std::string Address;
};
// This PC first, then each IPv4 interface that is up, named as Windows names it.
std::vector<TListenPlace> ListenPlaces();
// A new access key: 128 bits from the system's random source, as hex.
std::string NewAccessKey();

using TRemoteKeyEvent = TMethod<void(int key, const std::wstring& viewer)>;

class TShareForm : public TForm {
 public:
  // `keyLabels`: the instrument's keys as the page shows them, in the order of
  // the numbers OnRemoteKey receives.
  TShareForm(TPictureFeed& feed, std::vector<std::string> keyLabels);
  ~TShareForm() override;

  TRadioGroup PlaceRadioGroup;
  TLabel PortLabel;
  TEdit PortEdit;
  TCheckBox KeysCheckBox;
  TButton StartButton;
  TLabel AddressLabel;
  TEdit AddressEdit;
  TButton CopyButton;
  TLabel ViewersLabel;
  TLabel WarningLabel;
  TTimer ViewersTimer;

  // Started or stopped, or the number of viewers changed.
  TNotifyEvent OnChange;
  TRemoteKeyEvent OnRemoteKey;
  // Viewers pressed faster than they may: so many presses were dropped.
  TMethod<void(size_t count)> OnPressesDropped;

  bool Sharing() const { return server_ != nullptr; }
  size_t Viewers() const { return server_ ? server_->Viewers() : 0; }
  void Stop();

  void StartButtonClick(TObject* Sender);
  void CopyButtonClick(TObject* Sender);
  void ViewersTimerTimer(TObject* Sender);

 protected:
  void DefineWindow() override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Start();
  void ShowState();
  void ReportDropped(size_t dropped);
  // Called on the server's thread.
  void RemoteKey(int key, const std::string& viewer);

  TPictureFeed& feed_;
  const std::vector<std::string> keyLabels_;
  const std::vector<TListenPlace> places_;
  std::unique_ptr<TShareServer> server_;
  size_t shownViewers_ = 0;
  size_t seenDropped_ = 0;    // at the last tick
  size_t loggedDropped_ = 0;  // already told
  std::mutex pressesMutex_;
  std::deque<std::pair<int, std::string>> presses_;
  bool pressesPosted_ = false;
};

}  // namespace ts
