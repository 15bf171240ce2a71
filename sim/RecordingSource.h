#pragma once
// The simulator serving a recording instead of its model: every recorded report
// at its recorded time, from the start again once a round ends.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/Transport.h"

namespace ts {
class TByteSource;
}

namespace ts::sim {

class RecordingSource {
 public:
  // Throws ts::Exception with the reader's sentence when the file is not a
  // recording or cannot be read.
  explicit RecordingSource(const std::wstring& fileName);
  // A line for the log: the device, the length and how the file ends.
  std::string Describe() const;
  // Sends the recording round after round until stop is set; a round starts
  // once a client is connected, so none of it goes to nobody.
  void Serve(Transport& server, const std::atomic<bool>& stop, std::atomic<uint64_t>& sent,
             const std::function<void(const std::string&)>& log);

 private:
  // Read a block at a time, so a recording of any length plays.
  std::shared_ptr<TByteSource> file_;
  std::string summary_;
};

}  // namespace ts::sim
