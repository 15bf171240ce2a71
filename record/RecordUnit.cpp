#include "record/RecordUnit.h"

#include <chrono>

#include "link/HidControllerClass.h"
#include "res/ProgramVersion.h"
#include "ui/Application.h"
#include "ui/FileDialog.h"
#include "ui/Forms.h"
#include "ui/SystemError.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

constexpr wchar_t kProgramVersion[] = L"" TS_PROGRAM_VERSION;

int64_t UtcMicrosNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;  // 100 ns since 1601
  return int64_t(ticks / 10) - 11644473600LL * 1000000;
}

// "TS4170 2026-12-08 14-03-07.tsrec", local time.
std::wstring DefaultName() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  wchar_t name[64];
  swprintf(name, 64, L"TS4170 %04u-%02u-%02u %02u-%02u-%02u.tsrec", t.wYear, t.wMonth, t.wDay, t.wHour,
           t.wMinute, t.wSecond);
  return name;
}

}  // namespace

bool AskRecordingFile(HWND owner, bool save, std::wstring& fileName) {
  TFileDialog dialog{
      .Owner = owner,
      .Title = save ? L"Записать в файл" : L"Воспроизвести запись",
      .Filter = L"Запись ТС4170 (*.tsrec)\0*.tsrec\0Все файлы (*.*)\0*.*\0",
      .DefaultExtension = L"tsrec",
      .Flags = DWORD{OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR} | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST)};
  return AskFileName(dialog, save, fileName);
}

int64_t MonotonicMicros() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return int64_t(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return int64_t(now.QuadPart / frequency * 1000000 + now.QuadPart % frequency * 1000000 / frequency);
}

std::shared_ptr<TByteSource> OpenRecordingFile(const std::wstring& fileName, std::string& error) {
  return OpenFileSource(fileName, &error);
}

TWin32FileSink::TWin32FileSink(const std::wstring& fileName) {
  file_.Open(fileName, TFileMode::CreateShared);
}

TWin32FileSink::~TWin32FileSink() { Close(); }

bool TWin32FileSink::Write(const uint8_t* data, size_t size) { return file_.Write(data, size); }

bool TWin32FileSink::Flush() { return file_.Flush(); }

bool TWin32FileSink::Close() { return file_.Close(); }

TRecordControl::TRecordControl(TForm& owner) : owner_(owner) {
  // A log-off or shut-down ends the file as closing the program does, with
  // its end record and index, not as a crash.
  owner_.AttachSessionEnd(this, Bind(this, &TRecordControl::SessionEnd));
}

TRecordControl::~TRecordControl() {
  owner_.DetachSessionEnd(this);
  Close();
}

void TRecordControl::Toggle(THidDevice* device) {
  if (Recording()) {
    Finish();
    return;
  }
  if (!device) {
    Application->ShowMessage(L"Прибор ТС4170 не подключен: записывать нечего.");
    return;
  }
  std::wstring name = DefaultName();
  if (AskRecordingFile(owner_.Handle(), true, name)) Start(device, name);
}

void TRecordControl::Start(THidDevice* device, const std::wstring& name) {
  TRecordingHeader header;
  header.StartUtcMicros = UtcMicrosNow();
  header.VendorID = device->Attributes().VendorID;
  header.ProductID = device->Attributes().ProductID;
  header.VersionNumber = device->Attributes().VersionNumber;
  header.ProgramVersion = Narrow(kProgramVersion);
  header.Manufacturer = device->DeviceStrings(1);
  header.Product = device->DeviceStrings(2);
  header.SerialNumber = device->DeviceStrings(3);
  auto sink = std::make_unique<TWin32FileSink>(name);
  if (!sink->Opened()) {
    Application->ShowMessage(Widen(sink->Error()));
    return;
  }
  if (!recorder_.Start(std::move(sink), header, MonotonicMicros())) {
    Application->ShowMessage(Widen(recorder_.TakeFailure()));
    return;
  }
  serial_ = device->Serial();
  fileName_ = name;
  if (OnChange) OnChange(nullptr);
}

void TRecordControl::Open(THidDevice& device) { openSerial_ = device.Serial(); }

void TRecordControl::Report(uint8_t reportID, const uint8_t* data, uint16_t size) {
  if (!serial_ || openSerial_ != serial_) return;
  if (!recorder_.Recording()) {
    Stop(TRecordingEnd::Stopped);  // a write failed: say so
    return;
  }
  recorder_.Push(MonotonicMicros(), reportID, data, size);
}

void TRecordControl::Close(TSourceEnd reason) {
  openSerial_ = 0;
  Stop(reason == TSourceEnd::Closed ? TRecordingEnd::ProgramClosed : TRecordingEnd::Unplugged);
}

void TRecordControl::Stop(TRecordingEnd reason) {
  if (!serial_) return;
  recorder_.Stop(reason);
  serial_ = 0;
  const std::string failure = recorder_.TakeFailure();
  if (OnChange) OnChange(nullptr);
  // A loss is told even when the user stopped: a recording is kept as evidence.
  std::wstring lostText;
  if (const uint64_t dropped = recorder_.Dropped())
    lostText = L"Потеряно отчётов: " + std::to_wstring(dropped) + L" (диск не успевал). ";
  if (const uint64_t missed = recorder_.Missed())
    lostText += L"Не дошло до программы отчётов: " + std::to_wstring(missed) + L". ";
  const bool lost = !lostText.empty();
  if (lost) lostText += L"В файле отмечены пропуски.";
  if (!failure.empty())
    Application->ShowMessage(L"Запись остановлена: " + Widen(failure) + L"\r\nФайл " + fileName_ +
                             L" воспроизводится до последнего записанного отчёта." +
                             (lost ? L"\r\n" + lostText : std::wstring()));
  else if (lost && reason != TRecordingEnd::ProgramClosed)
    Application->ShowMessage(L"Запись " + fileName_ + L" сохранена. " + lostText);
}

}  // namespace ts
