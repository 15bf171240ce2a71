#pragma once
// The recording file: a header naming the format, the start and the device, then
// blocks of records, one record per input report, and at the end an index of
// the blocks a reader may start at. A report that repeats what its line group
// last carried costs one byte; see docs/recording-format.md.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ts {

inline constexpr char kRecordingMagic[8] = {'T', 'S', 'R', 'E', 'C', '\r', '\n', '\x1A'};
inline constexpr uint16_t kRecordingVersion = 1;
// Record times are kept in units of 100 microseconds from the start.
inline constexpr int64_t kRecordingTimeUnitMicros = 100;
// No recording is longer than a year: a time beyond it is damage, and it keeps
// every sum of times far from overflowing.
inline constexpr int64_t kMaxRecordingUnits = 366LL * 24 * 3600 * 10000;
// The largest input report a recording holds (report ID excluded).
inline constexpr uint16_t kMaxRecordedReportSize = 1024;
// Longest record: tag, 10-byte time, 2-byte size, ID, data.
inline constexpr size_t kMaxRecordSize = 1 + 10 + 2 + 1 + kMaxRecordedReportSize;
inline constexpr size_t kBlockHeaderSize = 12;
// A block is closed once its records reach this many bytes.
inline constexpr size_t kBlockTargetSize = 32 * 1024;
// No writer makes a block larger; a framing that claims more is damage.
inline constexpr uint32_t kMaxBlockPayload = 1 << 20;
// Set in a block's record count: a reader may start decoding at this block.
inline constexpr uint32_t kKeyBlockFlag = 0x80000000u;

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
  // Reports the recorder lost just before this one, and when the first of them came.
  uint64_t LostBefore = 0;
  int64_t LostFromMicros = 0;
  std::array<uint8_t, kMaxRecordedReportSize> Data{};
};

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

std::vector<uint8_t> EncodeRecordingHeader(const TRecordingHeader& header);

// What both the encoder and the decoder remember of the reports so far.
struct TCodingState {
  TCodingState();
  void Clear();
  std::vector<std::array<uint8_t, 64>> Slots;
  std::vector<int16_t> Successor;
  std::vector<bool> Known;
  int LastSlot = -1;
  uint8_t ScreenID = 0;  // the report ID of the screen reports that follow
};

// Turns reports into records. Keeps the last report of every line group, so a
// repeat or a small change costs little. Allocates nothing after construction.
class TRecordEncoder {
 public:
  // Writes the record of one report at out (room for 2 * kMaxRecordSize) and
  // returns its length. Reports beyond kMaxRecordedReportSize are cut there.
  size_t Encode(int64_t timeMicros, uint8_t reportID, const uint8_t* data, uint16_t size, uint8_t* out);
  // `lost` reports went missing from `fromMicros` to `toMicros`.
  size_t EncodeGap(int64_t fromMicros, int64_t toMicros, uint64_t lost, uint8_t* out);
  size_t EncodeEnd(int64_t timeMicros, TRecordingEnd reason, uint8_t* out);
  // Forgets every report, so the next block can be decoded on its own.
  void Restart();
  int64_t LastUnit() const { return lastUnit_; }
  // Records written since the last call: a report may take two (a mark and its own).
  uint32_t TakeRecords() { return std::exchange(records_, 0u); }

 private:
  int64_t ToUnit(int64_t timeMicros);
  size_t PutTime(int64_t unit, uint8_t kind, uint8_t* out);
  TCodingState state_;
  int64_t lastUnit_ = 0;
  uint32_t records_ = 0;
};

// A block's framing around its records.
void EncodeBlockHeader(uint32_t payloadSize, uint32_t recordCount, uint32_t crc, uint8_t* out);

// A block a reader may start at: where it is, the time and the number of
// reports before it, and what the decoder knew there (none: nothing).
struct TSeekPoint {
  uint64_t Offset = 0;
  int64_t Unit = 0;
  uint64_t Reports = 0;
  std::shared_ptr<const TCodingState> State;
};

// The index after the end record: the key blocks and the recording's totals.
struct TRecordingIndex {
  std::vector<TSeekPoint> Points;
  int64_t DurationUnits = 0;
  uint64_t Reports = 0;
  uint64_t Lost = 0;
  uint64_t Offset = 0;  // where the index begins: the blocks end there
};
std::vector<uint8_t> EncodeRecordingIndex(const TRecordingIndex& index, uint64_t offset);

// The bytes of a recording, wherever they are kept; read from one thread at a time.
class TByteSource {
 public:
  virtual ~TByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly n bytes at offset, or false.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

class TMemorySource : public TByteSource {
 public:
  explicit TMemorySource(std::shared_ptr<const std::vector<uint8_t>> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_->size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  std::shared_ptr<const std::vector<uint8_t>> bytes_;
};

// Reads a recording, report by report, block by block, and says where and why
// it stopped. Holds one block at a time.
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

  explicit TRecordingReader(std::shared_ptr<TByteSource> source);
  explicit TRecordingReader(std::vector<uint8_t> file);
  const TRecordingHeader& Header() const { return header_; }
  bool Next(TRecordedReport& report);
  TStatus Status() const { return status_; }
  TRecordingEnd EndReason() const { return endReason_; }
  uint64_t ReportsRead() const { return reportsRead_; }
  // Records of every kind read so far, as blocks count them.
  uint64_t RecordsRead() const { return recordsRead_; }
  uint64_t Lost() const { return lost_; }
  int64_t LastTimeMicros() const { return lastUnit_ * kRecordingTimeUnitMicros; }
  // Whole: ended, and nothing lost on the way.
  bool Whole() const { return status_ == TStatus::Ended && lost_ == 0; }
  // A sentence for the user on how the file ended and what it lost; empty
  // while reading or when it ended whole.
  std::string Problem() const;

  // The index at the file's end, when there is a sound one.
  bool ReadIndex(TRecordingIndex& index);
  // Reads on from a point that an index or a scan gave.
  void Seek(const TSeekPoint& point);
  // Opens the next block before `end` (where the index begins), checking its
  // framing and checksum without decoding its records: a fast check of the
  // file. False at `end` (still Reading) or at damage.
  bool SkipBlock(uint64_t end);
  // Called as each block is opened, before its first record: where it is,
  // whether it is a key block, and the decoder's state there.
  std::function<void(const TSeekPoint&, bool key, const TCodingState&)> OnBlock;
  // The offset of the first block.
  uint64_t FirstBlock() const { return firstBlock_; }
  uint64_t FileSize() const { return size_; }

 private:
  bool ParseHeader();
  bool OpenBlock();
  // Whether the block just read holds the records its framing counts.
  bool Counted() const;
  bool Fail(TStatus status, uint64_t offset);

  std::shared_ptr<TByteSource> source_;
  uint64_t size_ = 0;
  TRecordingHeader header_;
  TStatus status_ = TStatus::Reading;
  TRecordingEnd endReason_ = TRecordingEnd::Stopped;
  uint64_t firstBlock_ = 0;
  uint64_t next_ = 0;        // the file offset of the next block
  uint64_t blockStart_ = 0;  // of the block being read
  std::vector<uint8_t> block_;
  size_t pos_ = 0;  // in block_
  uint64_t stopOffset_ = 0;
  uint64_t reportsRead_ = 0;
  uint64_t recordsRead_ = 0;
  // The open block's count of records, and its screen-ID marks: older writers
  // left those out of the count.
  uint32_t blockRecords_ = 0;
  uint64_t blockFirstRecord_ = 0, blockIDMarks_ = 0;
  bool counting_ = false;
  uint64_t lost_ = 0;
  uint16_t version_ = 0;
  bool foreignMagic_ = false;

  TCodingState state_;
  int64_t lastUnit_ = 0;
};

}  // namespace ts
