#pragma once
// The recording file: a header naming the format, the start and the device, then
// blocks of records, one record per input report. A report that repeats what its
// line group last carried costs one byte; see docs/recording-format.md.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ts {

inline constexpr char kRecordingMagic[8] = {'T', 'S', 'R', 'E', 'C', '\r', '\n', '\x1A'};
inline constexpr uint16_t kRecordingVersion = 1;
// Record times are kept in units of 100 microseconds from the start.
inline constexpr int64_t kRecordingTimeUnitMicros = 100;
// The largest input report a recording holds (report ID excluded).
inline constexpr uint16_t kMaxRecordedReportSize = 1024;
// Longest record: tag, 10-byte time, 2-byte size, ID, data.
inline constexpr size_t kMaxRecordSize = 1 + 10 + 2 + 1 + kMaxRecordedReportSize;
inline constexpr size_t kBlockHeaderSize = 12;
// A block is closed once its records reach this many bytes.
inline constexpr size_t kBlockTargetSize = 32 * 1024;

struct TRecordingHeader {
  int64_t StartUtcMicros = 0;  // since 1970-01-01 00:00 UTC
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t VersionNumber = 0;
  std::string ProgramVersion;  // texts are UTF-8
  std::string Manufacturer;
  std::string Product;
  std::string SerialNumber;
  friend bool operator==(const TRecordingHeader&, const TRecordingHeader&) = default;
};

// Why a recording ended, as its last record says.
enum class TRecordingEnd : uint8_t { Stopped = 0, Unplugged = 1, ProgramClosed = 2 };

struct TRecordedReport {
  int64_t TimeMicros = 0;  // from the start, a multiple of the time unit
  uint8_t ReportID = 0;
  uint16_t Size = 0;
  std::array<uint8_t, kMaxRecordedReportSize> Data{};
};

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

std::vector<uint8_t> EncodeRecordingHeader(const TRecordingHeader& header);

// Turns reports into records. Keeps the last report of every line group, so a
// repeat or a small change costs little. Allocates nothing after construction.
class TRecordEncoder {
 public:
  TRecordEncoder();
  // Writes the record of one report at out (room for kMaxRecordSize) and
  // returns its length. Reports beyond kMaxRecordedReportSize are cut there.
  size_t Encode(int64_t timeMicros, uint8_t reportID, const uint8_t* data, uint16_t size, uint8_t* out);
  size_t EncodeEnd(int64_t timeMicros, TRecordingEnd reason, uint8_t* out);

 private:
  size_t PutTime(int64_t timeMicros, uint8_t kind, uint8_t* out);
  std::vector<std::array<uint8_t, 64>> slots_;
  std::vector<int16_t> successor_;
  std::vector<bool> known_;
  int lastSlot_ = -1;
  int64_t lastUnit_ = 0;
};

// A block's framing around its records.
void EncodeBlockHeader(uint32_t payloadSize, uint32_t recordCount, uint32_t crc, uint8_t* out);

// Reads a recording held in memory, report by report, and says where and why it
// stopped.
class TRecordingReader {
 public:
  enum class TStatus {
    Reading,    // more may follow
    Ended,      // the end record was read: the file is whole
    Unended,    // the file stops between blocks with no end record
    Truncated,  // the file stops inside a block
    Corrupt,    // a block fails its checksum or holds an impossible record
    Foreign,    // not a recording, or a version this program cannot read
  };

  explicit TRecordingReader(std::vector<uint8_t> file);
  const TRecordingHeader& Header() const { return header_; }
  bool Next(TRecordedReport& report);
  TStatus Status() const { return status_; }
  TRecordingEnd EndReason() const { return endReason_; }
  uint64_t ReportsRead() const { return reportsRead_; }
  int64_t LastTimeMicros() const { return lastUnit_ * kRecordingTimeUnitMicros; }
  // A sentence for the user on how the file ended; empty while reading or
  // when it ended whole.
  std::string Problem() const;

 private:
  bool ParseHeader();
  bool OpenBlock();
  bool Fail(TStatus status, size_t offset);

  std::vector<uint8_t> file_;
  TRecordingHeader header_;
  TStatus status_ = TStatus::Reading;
  TRecordingEnd endReason_ = TRecordingEnd::Stopped;
  size_t pos_ = 0;
  size_t blockStart_ = 0;
  size_t blockEnd_ = 0;  // end of the current block's records
  bool lastBlock_ = false;
  size_t stopOffset_ = 0;
  uint64_t reportsRead_ = 0;
  uint16_t version_ = 0;

  std::vector<std::array<uint8_t, 64>> slots_;
  std::vector<int16_t> successor_;
  std::vector<bool> known_;
  int lastSlot_ = -1;
  int64_t lastUnit_ = 0;
};

}  // namespace ts
