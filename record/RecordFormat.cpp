#include "record/RecordFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "screen/ScreenImage.h"

namespace ts {
namespace {

// Record kinds, in the top three bits of a record's first byte.
enum : uint8_t { kNext = 0, kSame = 1, kPatch = 2, kFull = 3, kOther = 4, kEnd = 5, kMark = 6 };
// What a mark record says, in the byte after its time.
enum : uint8_t { kMarkScreenID = 0, kMarkGap = 1 };
constexpr uint8_t kTimeEscape = 31;
constexpr int kSlotCount = 512;
constexpr size_t kSlotBytes = 64;
// Beyond this a header is not one of ours, whatever it claims.
constexpr uint32_t kMaxHeaderBody = 64 * 1024;
constexpr char kIndexMagic[8] = {'T', 'S', 'I', 'N', 'D', 'E', 'X', '1'};
constexpr char kTailMagic[4] = {'T', 'S', 'I', 'X'};
constexpr size_t kIndexEntrySize = 24;
constexpr size_t kIndexFixedSize = 8 + 4 + 8 * 3 + 4;  // magic, count, totals, CRC
constexpr int64_t kUnitsPerSecond = 1'000'000 / kRecordingTimeUnitMicros;
// No index lists more key blocks than one a second of its recording, nor more
// than a year of them at the recorder's pace of one every 30 s.
constexpr uint64_t kMaxIndexEntries = kMaxRecordingUnits / (30 * kUnitsPerSecond) + 1;
// More than a year of reports at a thousand a second: damage.
constexpr uint64_t kMaxLostReports = 1ull << 36;

size_t PutVarint(uint64_t v, uint8_t* out) {
  size_t n = 0;
  while (v >= 0x80) {
    out[n++] = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  out[n++] = static_cast<uint8_t>(v);
  return n;
}

bool GetVarint(const uint8_t* p, size_t avail, uint64_t& v, size_t& used) {
  v = 0;
  for (size_t i = 0; i < avail && i < 10; ++i) {
    v |= uint64_t(p[i] & 0x7F) << (7 * i);
    if (!(p[i] & 0x80)) {
      used = i + 1;
      return true;
    }
  }
  return false;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
void Put32(uint8_t* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = uint8_t(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Get64(const uint8_t* p) { return uint64_t(Get32(p)) | uint64_t(Get32(p + 4)) << 32; }

std::string Clock(int64_t micros) {
  const int64_t ms = micros / 1000;
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                static_cast<long long>(ms % 1000));
  return text;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  const uint32_t* t = table.data();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<uint8_t> EncodeRecordingHeader(const TRecordingHeader& h) {
  std::vector<uint8_t> body;
  Put64(body, uint64_t(h.StartUtcMicros));
  Put16(body, h.VendorID);
  Put16(body, h.ProductID);
  Put16(body, h.VersionNumber);
  for (const std::string* s : {&h.ProgramVersion, &h.Manufacturer, &h.Product, &h.SerialNumber}) {
    const uint16_t n = static_cast<uint16_t>(std::min<size_t>(s->size(), 1024));
    Put16(body, n);
    body.insert(body.end(), s->begin(), s->begin() + n);
  }
  std::vector<uint8_t> out(kRecordingMagic, kRecordingMagic + 8);
  Put16(out, kRecordingVersion);
  out.resize(out.size() + 4);
  Put32(out.data() + 10, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  out.resize(out.size() + 4);
  Put32(out.data() + out.size() - 4, Crc32(out.data(), out.size() - 4));
  return out;
}

void EncodeBlockHeader(uint32_t payloadSize, uint32_t recordCount, uint32_t crc, uint8_t* out) {
  Put32(out, payloadSize);
  Put32(out + 4, recordCount);
  Put32(out + 8, crc);
}

TCodingState::TCodingState() : Slots(kSlotCount), Successor(kSlotCount, -1), Known(kSlotCount) {}

void TCodingState::Clear() {
  std::fill(Successor.begin(), Successor.end(), int16_t(-1));
  std::fill(Known.begin(), Known.end(), false);
  LastSlot = -1;
  ScreenID = 0;
}

// ---------------------------------------------------------------------------

int64_t TRecordEncoder::ToUnit(int64_t timeMicros) {
  const int64_t bounded = std::clamp<int64_t>(timeMicros, 0, kMaxRecordingUnits * kRecordingTimeUnitMicros);
  // A clock that steps back must not make time run backwards.
  return std::max((bounded + kRecordingTimeUnitMicros / 2) / kRecordingTimeUnitMicros, lastUnit_);
}

size_t TRecordEncoder::PutTime(int64_t unit, uint8_t kind, uint8_t* out) {
  const uint64_t delta = uint64_t(unit - lastUnit_);
  lastUnit_ = unit;
  ++records_;  // every record begins here
  if (delta < kTimeEscape) {
    out[0] = uint8_t(kind << 5 | delta);
    return 1;
  }
  out[0] = uint8_t(kind << 5 | kTimeEscape);
  return 1 + PutVarint(delta - kTimeEscape, out + 1);
}

void TRecordEncoder::Restart() { state_.Clear(); }

size_t TRecordEncoder::Encode(int64_t timeMicros, uint8_t reportID, const uint8_t* data, uint16_t size,
                              uint8_t* out) {
  size = std::min(size, kMaxRecordedReportSize);
  const int64_t unit = ToUnit(timeMicros);
  const int slot = ScreenSlot(data, size);
  if (slot < 0) {
    size_t n = PutTime(unit, kOther, out);
    n += PutVarint(size, out + n);
    out[n++] = reportID;
    if (size) std::memcpy(out + n, data, size);
    state_.LastSlot = -1;
    return n + size;
  }
  size_t n = 0;
  if (reportID != state_.ScreenID) {
    n = PutTime(unit, kMark, out);
    out[n++] = kMarkScreenID;
    out[n++] = reportID;
    state_.ScreenID = reportID;
  }
  auto& last = state_.Slots[size_t(slot)];
  const bool known = state_.Known[size_t(slot)];
  if (known && std::memcmp(last.data(), data, kSlotBytes) == 0) {
    const bool predicted = state_.LastSlot >= 0 && state_.Successor[size_t(state_.LastSlot)] == slot;
    n += PutTime(unit, predicted ? kNext : kSame, out + n);
    if (!predicted) {
      out[n++] = data[kLineGroupByte];
      out[n++] = data[kSecondHalfByte];
    }
  } else {
    int changed = 0;
    if (known)
      for (size_t i = 0; i < kSlotBytes; ++i) changed += last[i] != data[i];
    if (known && 2 + 8 + changed < int(kSlotBytes)) {
      n += PutTime(unit, kPatch, out + n);
      out[n++] = data[kLineGroupByte];
      out[n++] = data[kSecondHalfByte];
      uint8_t* mask = out + n;
      std::memset(mask, 0, 8);
      n += 8;
      for (size_t i = 0; i < kSlotBytes; ++i)
        if (last[i] != data[i]) {
          mask[i / 8] |= uint8_t(1 << (i % 8));
          out[n++] = data[i];
        }
    } else {
      n += PutTime(unit, kFull, out + n);
      std::memcpy(out + n, data, kSlotBytes);
      n += kSlotBytes;
    }
    std::memcpy(last.data(), data, kSlotBytes);
    state_.Known[size_t(slot)] = true;
  }
  if (state_.LastSlot >= 0) state_.Successor[size_t(state_.LastSlot)] = int16_t(slot);
  state_.LastSlot = slot;
  return n;
}

size_t TRecordEncoder::EncodeGap(int64_t fromMicros, int64_t toMicros, uint64_t lost, uint8_t* out) {
  const int64_t from = ToUnit(fromMicros);
  const int64_t to = std::max(ToUnit(toMicros), from);
  size_t n = PutTime(to, kMark, out);
  out[n++] = kMarkGap;
  n += PutVarint(lost, out + n);
  return n + PutVarint(uint64_t(to - from), out + n);
}

size_t TRecordEncoder::EncodeEnd(int64_t timeMicros, TRecordingEnd reason, uint8_t* out) {
  size_t n = PutTime(ToUnit(timeMicros), kEnd, out);
  out[n++] = uint8_t(reason);
  return n;
}

std::vector<uint8_t> EncodeRecordingIndex(const TRecordingIndex& index, uint64_t offset) {
  std::vector<uint8_t> out(kIndexMagic, kIndexMagic + 8);
  out.resize(12);
  Put32(out.data() + 8, uint32_t(index.Points.size()));
  for (const TSeekPoint& p : index.Points) {
    Put64(out, p.Offset);
    Put64(out, uint64_t(p.Unit));
    Put64(out, p.Reports);
  }
  Put64(out, uint64_t(index.DurationUnits));
  Put64(out, index.Reports);
  Put64(out, index.Lost);
  out.resize(out.size() + 4);
  Put32(out.data() + out.size() - 4, Crc32(out.data(), out.size() - 4));
  Put64(out, offset);
  out.insert(out.end(), kTailMagic, kTailMagic + 4);
  return out;
}

// ---------------------------------------------------------------------------

bool TMemorySource::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > bytes_->size() || n > bytes_->size() - offset) return false;
  if (n) std::memcpy(out, bytes_->data() + offset, n);
  return true;
}

TRecordingReader::TRecordingReader(std::shared_ptr<TByteSource> source)
    : source_(std::move(source)), size_(source_->Size()) {
  ParseHeader();
}

TRecordingReader::TRecordingReader(std::vector<uint8_t> file)
    : TRecordingReader(
          std::make_shared<TMemorySource>(std::make_shared<const std::vector<uint8_t>>(std::move(file)))) {}

bool TRecordingReader::Fail(TStatus status, uint64_t offset) {
  status_ = status;
  stopOffset_ = offset;
  return false;
}

bool TRecordingReader::ParseHeader() {
  uint8_t fixed[14];
  if (size_ < 14 || !source_->ReadAt(0, fixed, 14) || std::memcmp(fixed, kRecordingMagic, 8) != 0)
    return Fail(TStatus::Foreign, 0);
  foreignMagic_ = true;
  version_ = Get16(fixed + 8);
  const uint32_t bodySize = Get32(fixed + 10);
  if (version_ != kRecordingVersion) return Fail(TStatus::Foreign, 0);
  if (bodySize > kMaxHeaderBody || bodySize < 14 + 8) return Fail(TStatus::Corrupt, 0);
  const size_t end = 14 + bodySize;
  if (size_ < end + 4) return Fail(TStatus::Truncated, 0);
  std::vector<uint8_t> head(end + 4);
  if (!source_->ReadAt(0, head.data(), head.size())) return Fail(TStatus::Truncated, 0);
  const uint8_t* p = head.data();
  if (Crc32(p, end) != Get32(p + end)) return Fail(TStatus::Corrupt, 0);
  size_t q = 14;
  header_.StartUtcMicros = int64_t(Get64(p + q));
  header_.VendorID = Get16(p + q + 8);
  header_.ProductID = Get16(p + q + 10);
  header_.VersionNumber = Get16(p + q + 12);
  q += 14;
  for (std::string* s :
       {&header_.ProgramVersion, &header_.Manufacturer, &header_.Product, &header_.SerialNumber}) {
    if (q + 2 > end) return Fail(TStatus::Corrupt, 0);
    const uint16_t n = Get16(p + q);
    q += 2;
    if (q + n > end) return Fail(TStatus::Corrupt, 0);
    s->assign(reinterpret_cast<const char*>(p + q), n);
    q += n;
  }
  firstBlock_ = next_ = blockStart_ = end + 4;
  return true;
}

bool TRecordingReader::OpenBlock() {
  blockStart_ = next_;
  if (next_ == size_) return Fail(TStatus::Unended, next_);
  if (size_ - next_ < kBlockHeaderSize) return Fail(TStatus::Truncated, next_);
  uint8_t h[kBlockHeaderSize];
  if (!source_->ReadAt(next_, h, kBlockHeaderSize)) return Fail(TStatus::Truncated, next_);
  const uint32_t size = Get32(h);
  if (size > kMaxBlockPayload) return Fail(TStatus::Corrupt, blockStart_);
  // A block cut short cannot be checked, so none of it plays.
  if (size > size_ - next_ - kBlockHeaderSize) return Fail(TStatus::Truncated, blockStart_);
  block_.resize(size);
  if (!source_->ReadAt(next_ + kBlockHeaderSize, block_.data(), size))
    return Fail(TStatus::Truncated, blockStart_);
  if (Crc32(block_.data(), size) != Get32(h + 8)) return Fail(TStatus::Corrupt, blockStart_);
  const bool key = (Get32(h + 4) & kKeyBlockFlag) != 0;
  blockRecords_ = Get32(h + 4) & ~kKeyBlockFlag;
  blockFirstRecord_ = recordsRead_;
  blockIDMarks_ = 0;
  counting_ = true;
  if (key) state_.Clear();
  if (OnBlock) OnBlock(TSeekPoint{blockStart_, lastUnit_, reportsRead_, nullptr}, key, state_);
  next_ = blockStart_ + kBlockHeaderSize + size;
  pos_ = 0;
  return true;
}

bool TRecordingReader::Next(TRecordedReport& report) {
  report.LostBefore = 0;
  while (status_ == TStatus::Reading) {
    while (pos_ == block_.size()) {
      if (counting_ && !Counted()) return Fail(TStatus::Corrupt, blockStart_);
      if (!OpenBlock()) return false;
    }
    const uint8_t* p = block_.data() + pos_;
    const size_t avail = block_.size() - pos_;
    auto corrupt = [&] { return Fail(TStatus::Corrupt, blockStart_); };
    const uint8_t kind = p[0] >> 5;
    uint64_t delta = p[0] & 0x1F;
    size_t n = 1, used = 0;
    if (delta == kTimeEscape) {
      uint64_t more;
      if (!GetVarint(p + 1, avail - 1, more, used) || more > uint64_t(kMaxRecordingUnits)) return corrupt();
      delta += more;
      n += used;
    }
    if (delta > uint64_t(kMaxRecordingUnits - lastUnit_)) return corrupt();
    const int64_t unit = lastUnit_ + int64_t(delta);
    auto need = [&](size_t bytes) { return n + bytes <= avail; };
    auto& slots = state_.Slots;
    int slot = -1;
    switch (kind) {
      case kNext:
        if (state_.LastSlot < 0 || state_.Successor[size_t(state_.LastSlot)] < 0) return corrupt();
        slot = state_.Successor[size_t(state_.LastSlot)];
        break;
      case kSame:
      case kPatch:
        if (!need(2) || p[n + 1] > 1) return corrupt();
        slot = p[n] * 2 + p[n + 1];
        n += 2;
        if (!state_.Known[size_t(slot)]) return corrupt();
        if (kind == kPatch) {
          if (!need(8)) return corrupt();
          const uint8_t* mask = p + n;
          n += 8;
          auto& s = slots[size_t(slot)];
          for (size_t i = 0; i < kSlotBytes; ++i)
            if (mask[i / 8] >> (i % 8) & 1) {
              if (!need(1)) return corrupt();
              s[i] = p[n++];
            }
          if (s[kLineGroupByte] * 2 + s[kSecondHalfByte] != slot) return corrupt();
        }
        break;
      case kFull:
        if (!need(kSlotBytes) || p[n + kSecondHalfByte] > 1) return corrupt();
        slot = p[n + kLineGroupByte] * 2 + p[n + kSecondHalfByte];
        std::memcpy(slots[size_t(slot)].data(), p + n, kSlotBytes);
        state_.Known[size_t(slot)] = true;
        n += kSlotBytes;
        break;
      case kOther: {
        uint64_t size;
        if (!GetVarint(p + n, avail - n, size, used)) return corrupt();
        n += used;
        if (size > kMaxRecordedReportSize || !need(1 + size)) return corrupt();
        report.ReportID = p[n++];
        report.Size = uint16_t(size);
        if (size) std::memcpy(report.Data.data(), p + n, size);
        n += size;
        break;
      }
      case kEnd:
        if (!need(1)) return corrupt();
        endReason_ = TRecordingEnd(std::min<uint8_t>(p[n], 2));
        lastUnit_ = unit;
        ++recordsRead_;
        // The end record is its block's last.
        if (!Counted()) return corrupt();
        return Fail(TStatus::Ended, blockStart_);
      case kMark: {
        if (!need(1)) return corrupt();
        const uint8_t what = p[n++];
        if (what == kMarkScreenID) {
          if (!need(1)) return corrupt();
          state_.ScreenID = p[n++];
          ++blockIDMarks_;
        } else if (what == kMarkGap) {
          uint64_t lost, span;
          if (!GetVarint(p + n, avail - n, lost, used)) return corrupt();
          n += used;
          if (!GetVarint(p + n, avail - n, span, used) || span > uint64_t(unit) || lost > kMaxLostReports)
            return corrupt();
          n += used;
          if (report.LostBefore == 0)
            report.LostFromMicros = (unit - int64_t(span)) * kRecordingTimeUnitMicros;
          report.LostBefore += lost;
          lost_ += lost;
        } else {
          return corrupt();
        }
        lastUnit_ = unit;
        pos_ += n;
        ++recordsRead_;
        continue;
      }
      default:
        return corrupt();
    }
    if (slot >= 0) {
      report.ReportID = state_.ScreenID;
      report.Size = kSlotBytes;
      std::memcpy(report.Data.data(), slots[size_t(slot)].data(), kSlotBytes);
      if (state_.LastSlot >= 0) state_.Successor[size_t(state_.LastSlot)] = int16_t(slot);
    }
    state_.LastSlot = slot;
    lastUnit_ = unit;
    report.TimeMicros = unit * kRecordingTimeUnitMicros;
    pos_ += n;
    ++reportsRead_;
    ++recordsRead_;
    return true;
  }
  return false;
}

bool TRecordingReader::Counted() const {
  const uint64_t counted = recordsRead_ - blockFirstRecord_;
  return counted == blockRecords_ || counted - blockIDMarks_ == blockRecords_;
}

bool TRecordingReader::ReadIndex(TRecordingIndex& index) {
  if (status_ == TStatus::Foreign || size_ < firstBlock_ + 12 + kIndexFixedSize) return false;
  // The totals, the CRC and the index's place: the last 40 bytes.
  uint8_t tail[40];
  if (!source_->ReadAt(size_ - 40, tail, 40) || std::memcmp(tail + 36, kTailMagic, 4) != 0) return false;
  const uint64_t offset = Get64(tail + 28);
  if (offset < firstBlock_ || offset > size_ - 12 - kIndexFixedSize) return false;
  const uint64_t length = size_ - 12 - offset;
  if ((length - kIndexFixedSize) % kIndexEntrySize != 0) return false;
  const uint64_t count = (length - kIndexFixedSize) / kIndexEntrySize;
  const uint64_t duration = Get64(tail);
  if (count > kMaxIndexEntries || duration > uint64_t(kMaxRecordingUnits) ||
      count > duration / kUnitsPerSecond + 1)
    return false;
  std::vector<uint8_t> bytes(length);
  if (!source_->ReadAt(offset, bytes.data(), bytes.size())) return false;
  const uint8_t* p = bytes.data();
  if (std::memcmp(p, kIndexMagic, 8) != 0 || Get32(p + 8) != count ||
      Crc32(p, length - 4) != Get32(p + length - 4))
    return false;
  TRecordingIndex found;
  found.Points.reserve(count);
  const uint8_t* e = p + 12;
  for (size_t i = 0; i < count; ++i, e += kIndexEntrySize) {
    TSeekPoint point{Get64(e), int64_t(Get64(e + 8)), Get64(e + 16), nullptr};
    const TSeekPoint* before = found.Points.empty() ? nullptr : &found.Points.back();
    if (point.Offset < firstBlock_ || point.Offset >= offset || uint64_t(point.Unit) > kMaxRecordingUnits ||
        (before &&
         (point.Offset <= before->Offset || point.Unit < before->Unit || point.Reports < before->Reports)))
      return false;
    found.Points.push_back(point);
  }
  found.DurationUnits = int64_t(Get64(e));
  found.Reports = Get64(e + 8);
  found.Lost = Get64(e + 16);
  found.Offset = offset;
  if (uint64_t(found.DurationUnits) > kMaxRecordingUnits ||
      (!found.Points.empty() && found.DurationUnits < found.Points.back().Unit))
    return false;
  index = std::move(found);
  return true;
}

void TRecordingReader::Seek(const TSeekPoint& point) {
  if (status_ == TStatus::Foreign) return;
  status_ = TStatus::Reading;
  next_ = blockStart_ = point.Offset;
  block_.clear();
  pos_ = 0;
  counting_ = false;
  lastUnit_ = point.Unit;
  reportsRead_ = point.Reports;
  if (point.State)
    state_ = *point.State;
  else
    state_.Clear();
}

bool TRecordingReader::SkipBlock(uint64_t end) {
  if (status_ != TStatus::Reading || next_ == end) return false;
  if (next_ > end) return Fail(TStatus::Corrupt, blockStart_);
  if (!OpenBlock()) return false;
  pos_ = block_.size();
  return true;
}

std::string TRecordingReader::Problem() const {
  const std::string where = " (байт " + std::to_string(stopOffset_) + ", " + Clock(LastTimeMicros()) +
                            ", отчётов: " + std::to_string(reportsRead_) + ")";
  const std::string lost = lost_ ? "; потеряно отчётов при записи: " + std::to_string(lost_) : std::string();
  switch (status_) {
    case TStatus::Foreign:
      if (version_ != 0 && foreignMagic_)
        return "Версия записи " + std::to_string(version_) + " этой программе неизвестна";
      return "Файл не является записью ТС4170";
    case TStatus::Truncated:
      return "Запись оборвана" + where + lost;
    case TStatus::Corrupt:
      return "Запись повреждена" + where + lost;
    case TStatus::Unended:
      return "Запись не завершена" + where + lost;
    case TStatus::Ended:
      return lost_ ? "В записи пропуски: потеряно отчётов при записи: " + std::to_string(lost_)
                   : std::string();
    default:
      return {};
  }
}

}  // namespace ts
