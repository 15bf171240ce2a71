#include "record/FileSource.h"

#include <algorithm>

namespace ts {

TWin32FileSource::TWin32FileSource(TWinHandle file) : file_(std::move(file)) {
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file_.Get(), &size)) size_ = uint64_t(size.QuadPart);
}

bool TWin32FileSource::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  while (n > 0) {
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file_.Get(), out, DWORD(std::min<size_t>(n, 1 << 20)), &got, &at) || got == 0) return false;
    out += got;
    offset += got;
    n -= got;
  }
  return true;
}

std::shared_ptr<TByteSource> OpenFileSource(const std::wstring& fileName) {
  // Shared for writing: a recording under way may be played.
  TWinHandle file(CreateFileW(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file) return nullptr;
  return std::make_shared<TWin32FileSource>(std::move(file));
}

}  // namespace ts
