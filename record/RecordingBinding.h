#pragma once
// A recording as a HID device: the binding lists one interface with the recorded
// device's identity, and its reads return the recorded reports at their times,
// paced by a playback clock the playback window steers. Writes are refused, so
// nothing reaches an instrument while a recording is shown.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/HidBinding.h"
#include "record/RecordFormat.h"

namespace ts {

// Where a recording's reader may start, with the recording's length: from the
// index at the file's end or, for a file without a sound one, from the scan,
// keeping the decoder's state every minute. Every block is checked either way,
// for damage the index cannot know of. `progress` (0 to 1) is told along the
// scan and may answer false to give it up; then so does this.
struct TRecordingMap {
  std::vector<TSeekPoint> Points;
  int64_t DurationMicros = 0;
  uint64_t Lost = 0;
  bool Indexed = false;  // read from the file's index
  std::string Problem;   // the file's end or damage that the scan met, or what it lost
};
bool MapRecording(TRecordingReader& reader, TRecordingMap& map,
                  const std::function<bool(double)>& progress = nullptr);

class TPlayback {
 public:
  using Clock = std::chrono::steady_clock;
  explicit TPlayback(std::shared_ptr<TByteSource> source,
                     const std::function<bool(double)>& progress = nullptr);
  explicit TPlayback(std::shared_ptr<const std::vector<uint8_t>> file);

  // False when the scan for an older file's map was given up.
  bool Mapped() const { return mapped_; }
  const TRecordingHeader& Header() const { return header_; }
  int64_t DurationMicros() const { return duration_; }
  // How the file ended and what it lost, for the user; empty when it is whole.
  std::string Problem() const;
  // Reports lost while recording that playback has passed so far.
  uint64_t LostPlayed() const;

  // From the user interface thread.
  void Play();
  void Pause();
  bool Paused() const;
  void SetSpeed(int speed);  // 1, 2 or 4
  // While paused: the reports up to and including the next present.
  void Step();
  // Moves to a time; the reports just before it come at once, so the whole
  // screen of that moment is drawn.
  void Seek(int64_t micros);
  int64_t PositionMicros() const;
  bool AtEnd() const;
  // Lateness of reports against their due times while playing: count, sum, most.
  void Lateness(uint64_t& count, int64_t& sumMicros, int64_t& maxMicros) const;

  // From the read thread: waits at most `wait` for the next report and copies it
  // (report ID first) into out; answers its length, or 0.
  uint32_t Next(uint8_t* out, uint32_t length, std::chrono::milliseconds wait);

 private:
  void Restart();
  bool Decode();         // the next report into next_; false at the end
  void TakeToPresent();  // into the burst, the reports up to and including the next present
  // Decodes from a point up to `micros`, keeping the last reports before it.
  size_t Lead(const TSeekPoint& from, int64_t micros);
  int64_t MediaNow(Clock::time_point now) const;
  uint32_t Copy(const TRecordedReport& r, uint8_t* out, uint32_t length);

  TRecordingHeader header_;
  int64_t duration_ = 0;
  TRecordingMap map_;
  bool mapped_ = false;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<TRecordingReader> reader_;
  std::string problem_;
  uint64_t lostPlayed_ = 0;
  TRecordedReport next_;
  bool haveNext_ = false;
  std::vector<TRecordedReport> lead_;   // a seek's ring of the reports before its moment
  std::vector<TRecordedReport> burst_;  // to deliver at once, in order
  size_t burstAt_ = 0;
  bool paused_ = false;
  int speed_ = 1;
  int64_t anchorMedia_ = 0;
  Clock::time_point anchorWall_;
  int64_t position_ = 0;
  uint64_t lateCount_ = 0;
  int64_t lateSum_ = 0, lateMax_ = 0;
};

class TRecordingBinding : public THidBinding {
 public:
  explicit TRecordingBinding(std::shared_ptr<TPlayback> playback) : playback_(std::move(playback)) {}
  bool LoadLibraries() override { return true; }
  void UnloadLibraries() override {}
  THidGuid HidGuid() override { return kFallbackHidInterfaceClass; }
  bool Enumerate(const THidGuid& interfaceClass, std::vector<std::unique_ptr<THidPnPInfo>>& found) override;
  THidHandle Open(const std::string& path, THidAccess access) override;
  void Close(THidHandle) override {}
  bool GetAttributes(THidHandle handle, THidAttributes& attributes) override;
  THidPreparsedData GetPreparsedData(THidHandle) override { return &caps_; }
  void FreePreparsedData(THidPreparsedData) override {}
  bool GetCaps(THidPreparsedData data, THidCaps& caps) override;
  bool SetNumInputBuffers(THidHandle, uint32_t) override { return true; }
  bool GetNumInputBuffers(THidHandle, uint32_t& count) override;
  bool FlushQueue(THidHandle) override { return true; }
  bool GetIndexedString(THidHandle handle, uint32_t index, std::u16string& text) override;
  bool Write(THidHandle, const uint8_t*, uint32_t, uint32_t& written) override;
  std::unique_ptr<THidReadRequest> NewReadRequest() override;

 private:
  std::shared_ptr<TPlayback> playback_;
  THidCaps caps_;
};

}  // namespace ts
