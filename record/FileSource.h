#pragma once
// A recording's file read where it lies, a block at a time.

#include <windows.h>

#include <memory>
#include <string>

#include "record/RecordFormat.h"
#include "ui/WinHandle.h"

namespace ts {

class TWin32FileSource : public TByteSource {
 public:
  explicit TWin32FileSource(TWinHandle file);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  TWinHandle file_;
  uint64_t size_ = 0;
};

// The file opened for reading, or null with the system's error in GetLastError.
std::shared_ptr<TByteSource> OpenFileSource(const std::wstring& fileName);

}  // namespace ts
