#pragma once
// A file of the program's own, the one way it reads and writes files: whole
// reads and writes over the system's calls, each failure kept with its step and
// the system's error, and the program's texts for it. Also the part file, which
// puts a file in its place only whole.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/WinHandle.h"

namespace ts {

enum class TFileMode {
  Read,              // an existing file, others may read it too
  ReadWhileWritten,  // an existing file another may still be writing (a recording under way)
  Create,            // a new file in place of any of that name, kept to ourselves
  CreateShared,      // the same, readable by others while it grows
  Update,            // an existing file, written
};

enum class TFileStep { None, Open, Create, Read, Write, Close };

// The system's write: a test hands in one that fails or writes short.
using TWriteFileCall = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

class TFile {
 public:
  explicit TFile(TWriteFileCall writeFile = &WriteFile) : writeFile_(writeFile) {}
  TFile(TFile&&) = default;
  TFile& operator=(TFile&&) = default;

  // Each answers whether it worked; a failure is kept until the next one.
  bool Open(const std::wstring& fileName, TFileMode mode);
  // Exactly `n` bytes at `offset`; running into the end is a failure too.
  bool Read(uint64_t offset, void* out, size_t n);
  // The whole file.
  bool ReadAll(std::vector<uint8_t>& out);
  // All of the bytes, however few the system takes at a time.
  bool Write(const void* data, size_t n);
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  bool Flush();
  // Closing a closed file answers whether no step failed.
  bool Close();

  bool IsOpen() const { return static_cast<bool>(handle_); }
  uint64_t Size() const;
  const std::wstring& Name() const { return name_; }
  // Marks a step on this file that failed outside it (a rename), with the error now.
  void Fail(TFileStep step);

  TFileStep FailedStep() const { return failedStep_; }
  DWORD Error() const { return error_; }
  // The system's text for the error ("ошибка N" when it has none).
  std::string SystemText() const;
  // The user's: "Не записывается файл <name>: <system text>"; empty without a failure.
  std::string Failure() const;
  // The export's: "Cannot write file (error N)".
  std::string FailureCode() const;

 private:
  bool Failed(TFileStep step);

  TWinHandle handle_;
  std::wstring name_;
  TWriteFileCall writeFile_;
  TFileStep failedStep_ = TFileStep::None;
  DWORD error_ = 0;
};

// A file written under a temporary name beside its own (its name and `suffix`)
// and put in its place only when every write, the flush and the close
// succeeded; removed unless published, so the old file stays as it was.
class TPartFile {
 public:
  explicit TPartFile(const std::wstring& fileName, const wchar_t* suffix = L".part",
                     TWriteFileCall writeFile = &WriteFile);
  ~TPartFile();
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;
  const std::wstring& Name() const { return part_; }
  // The part, to be opened (Create) and written; or left closed for another
  // writer of the part's name.
  TFile& File() { return file_; }
  // Puts the part on the disk and in its place; false with the failure in
  // File(), also when the name is taken by then and `replace` is false.
  bool Publish(bool replace = true);

 private:
  std::wstring part_, fileName_;
  TFile file_;
  bool published_ = false;
};

}  // namespace ts
