#include "record/RecordUnit.h"

#include <chrono>

#include "link/HidControllerClass.h"
#include "ui/Application.h"
#include "ui/FileDialog.h"
#include "ui/Forms.h"
#include "ui/SystemError.h"
#include "ui/WinHandle.h"

namespace ts {
namespace {

constexpr wchar_t kProgramVersion[] = L"Virtual_TS4170 V18.09";

std::string SystemText(DWORD error) {
  const std::string text = SystemErrorText(error);
  return text.empty() ? "ошибка " + std::to_string(error) : text;
}

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

bool ReadWholeFile(const std::wstring& fileName, std::vector<uint8_t>& out, std::string& error) {
  const TWinHandle file(
      CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    error = SystemText(GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(file.Get(), &size);
  out.assign(size_t(size.QuadPart), 0);
  size_t done = 0;
  while (done < out.size()) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), out.data() + done, DWORD(std::min<size_t>(out.size() - done, 1 << 20)), &got,
                  nullptr) ||
        got == 0) {
      error = SystemText(GetLastError());
      return false;
    }
    done += got;
  }
  return true;
}

std::shared_ptr<TByteSource> OpenRecordingFile(const std::wstring& fileName, std::string& error) {
  auto source = OpenFileSource(fileName);
  if (!source) error = SystemText(GetLastError());
  return source;
}

TWin32FileSink::TWin32FileSink(const std::wstring& fileName) : name_(fileName) {
  file_.Reset(CreateFileW(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) Remember("Не создаётся файл");
}

TWin32FileSink::~TWin32FileSink() { Close(); }

void TWin32FileSink::Remember(const char* what) {
  error_ = std::string(what) + " " + Narrow(name_) + ": " + SystemText(GetLastError());
}

bool TWin32FileSink::Write(const uint8_t* data, size_t size) {
  if (!file_) return false;
  while (size > 0) {
    DWORD done = 0;
    if (!WriteFile(file_.Get(), data, DWORD(std::min<size_t>(size, 1 << 20)), &done, nullptr) || done == 0) {
      Remember("Не записывается файл");
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

bool TWin32FileSink::Flush() {
  if (file_ && FlushFileBuffers(file_.Get())) return true;
  Remember("Не записывается файл");
  return false;
}

bool TWin32FileSink::Close() {
  if (!file_) return error_.empty();
  const bool ok = file_.Close();
  if (!ok) Remember("Не закрывается файл");
  return ok;
}

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
