#include "ui/File.h"

#include <algorithm>

#include "ui/Cp1251.h"
#include "ui/SystemError.h"

namespace ts {
namespace {

// The system moves at most this much in one call; the rest goes in further calls.
constexpr size_t kChunk = 1 << 20;

struct TStepTexts {
  const char* user;
  const char* code;
};
// Indexed by TFileStep; a flush and a rename fail as writes.
constexpr TStepTexts kStepTexts[] = {
    {"", ""},
    {"Не открывается файл", "Cannot open file"},
    {"Не создаётся файл", "Cannot create file"},
    {"Не читается файл", "Cannot read file"},
    {"Не записывается файл", "Cannot write file"},
    {"Не закрывается файл", "Cannot close file"},
};

}  // namespace

bool TFile::Failed(TFileStep step) {
  Fail(step);
  return false;
}

void TFile::Fail(TFileStep step) {
  failedStep_ = step;
  error_ = GetLastError();
}

bool TFile::Open(const std::wstring& fileName, TFileMode mode) {
  handle_.Reset();
  name_ = fileName;
  DWORD access = GENERIC_READ, share = FILE_SHARE_READ, disposition = OPEN_EXISTING, flags = 0;
  switch (mode) {
    case TFileMode::Read:
      break;
    case TFileMode::ReadWhileWritten:
      share |= FILE_SHARE_WRITE;
      flags = FILE_FLAG_RANDOM_ACCESS;
      break;
    case TFileMode::Create:
    case TFileMode::CreateShared:
      access = GENERIC_WRITE;
      share = mode == TFileMode::CreateShared ? FILE_SHARE_READ : 0;
      disposition = CREATE_ALWAYS;
      flags = FILE_ATTRIBUTE_NORMAL;
      break;
    case TFileMode::Update:
      access = GENERIC_WRITE;
      share = 0;
      break;
  }
  handle_.Reset(CreateFileW(fileName.c_str(), access, share, nullptr, disposition, flags, nullptr));
  if (handle_) return true;
  return Failed(disposition == CREATE_ALWAYS ? TFileStep::Create : TFileStep::Open);
}

bool TFile::Read(uint64_t offset, void* out, size_t n) {
  auto* to = static_cast<uint8_t*>(out);
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(handle_.Get(), to, DWORD(std::min(n, kChunk)), &got, &at)) return Failed(TFileStep::Read);
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return Failed(TFileStep::Read);
    }
    to += got;
    offset += got;
    n -= got;
  }
  return true;
}

bool TFile::ReadAll(std::vector<uint8_t>& out) {
  out.assign(size_t(Size()), 0);
  return Read(0, out.data(), out.size());
}

bool TFile::Write(const void* data, size_t n) {
  if (!handle_) return false;
  auto* from = static_cast<const uint8_t*>(data);
  while (n > 0) {
    DWORD done = 0;
    if (!writeFile_(handle_.Get(), from, DWORD(std::min(n, kChunk)), &done, nullptr))
      return Failed(TFileStep::Write);
    if (done == 0) {
      // Taken nothing and said nothing: the disk has no room left.
      SetLastError(ERROR_DISK_FULL);
      return Failed(TFileStep::Write);
    }
    from += done;
    n -= done;
  }
  return true;
}

bool TFile::Flush() { return (handle_ && FlushFileBuffers(handle_.Get())) || Failed(TFileStep::Write); }

bool TFile::Close() {
  if (!handle_) return failedStep_ == TFileStep::None;
  return handle_.Close() || Failed(TFileStep::Close);
}

uint64_t TFile::Size() const {
  LARGE_INTEGER size{};
  return GetFileSizeEx(handle_.Get(), &size) ? uint64_t(size.QuadPart) : 0;
}

std::string TFile::SystemText() const {
  const std::string text = SystemErrorText(error_);
  return text.empty() ? "ошибка " + std::to_string(error_) : text;
}

std::string TFile::Failure() const {
  if (failedStep_ == TFileStep::None) return {};
  return std::string(kStepTexts[int(failedStep_)].user) + " " + Narrow(name_) + ": " + SystemText();
}

std::string TFile::FailureCode() const {
  if (failedStep_ == TFileStep::None) return {};
  return std::string(kStepTexts[int(failedStep_)].code) + " (error " + std::to_string(error_) + ")";
}

TPartFile::TPartFile(const std::wstring& fileName, const wchar_t* suffix, TWriteFileCall writeFile)
    : part_(fileName + suffix), fileName_(fileName), file_(writeFile) {}

TPartFile::~TPartFile() {
  file_ = TFile();
  if (!published_) DeleteFileW(part_.c_str());
}

bool TPartFile::Publish(bool replace) {
  // A part another wrote by its name is opened here to be put on the disk.
  if (!file_.IsOpen() && !file_.Open(part_, TFileMode::Update)) {
    file_.Fail(TFileStep::Write);
    return false;
  }
  if (!file_.Flush() || !file_.Close()) return false;
  if (!MoveFileExW(part_.c_str(), fileName_.c_str(),
                   (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH)) {
    file_.Fail(TFileStep::Write);
    return false;
  }
  published_ = true;
  return true;
}

}  // namespace ts
