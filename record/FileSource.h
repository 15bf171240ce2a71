#pragma once
// A recording's file read where it lies, a block at a time.

#include <memory>
#include <string>

#include "record/RecordFormat.h"
#include "ui/File.h"

namespace ts {

class TWin32FileSource : public TByteSource {
 public:
  explicit TWin32FileSource(TFile file) : file_(std::move(file)), size_(file_.Size()) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override { return file_.Read(offset, out, n); }

 private:
  TFile file_;
  uint64_t size_ = 0;
};

// The file opened for reading, or null with the system's text for why in `error`.
std::shared_ptr<TByteSource> OpenFileSource(const std::wstring& fileName, std::string* error = nullptr);

}  // namespace ts
