#include "record/FileSource.h"

namespace ts {

std::shared_ptr<TByteSource> OpenFileSource(const std::wstring& fileName, std::string* error) {
  TFile file;
  // Shared for writing: a recording under way may be played.
  if (file.Open(fileName, TFileMode::ReadWhileWritten))
    return std::make_shared<TWin32FileSource>(std::move(file));
  if (error) *error = file.SystemText();
  return nullptr;
}

}  // namespace ts
