#include "record/RecordFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ts {
namespace {

// Record kinds, in the top three bits of a record's first byte.
enum : uint8_t { kNext = 0, kSame = 1, kPatch = 2, kFull = 3, kOther = 4, kEnd = 5 };
constexpr uint8_t kTimeEscape = 31;
constexpr int kSlotCount = 512;
constexpr size_t kSlotBytes = 64;
// Beyond this a header is not one of ours, whatever it claims.
constexpr uint32_t kMaxHeaderBody = 64 * 1024;

// A report that fits a line-group slot: ID 0, 64 bytes, half flag 0 or 1.
int SlotOf(uint8_t reportID, const uint8_t* data, uint16_t size) {
  if (reportID != 0 || size != kSlotBytes || data[61] > 1) return -1;
  return data[60] * 2 + data[61];
}

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
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

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
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<uint8_t> EncodeRecordingHeader(const TRecordingHeader& h) {
  std::vector<uint8_t> body;
  for (int i = 0; i < 8; ++i) body.push_back(uint8_t(uint64_t(h.StartUtcMicros) >> (8 * i)));
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

// ---------------------------------------------------------------------------

TRecordEncoder::TRecordEncoder() : slots_(kSlotCount), successor_(kSlotCount, -1), known_(kSlotCount) {}

size_t TRecordEncoder::PutTime(int64_t timeMicros, uint8_t kind, uint8_t* out) {
  int64_t unit = (std::max<int64_t>(timeMicros, 0) + kRecordingTimeUnitMicros / 2) / kRecordingTimeUnitMicros;
  unit = std::max(unit, lastUnit_);  // a clock that steps back must not make time run backwards
  const uint64_t delta = uint64_t(unit - lastUnit_);
  lastUnit_ = unit;
  if (delta < kTimeEscape) {
    out[0] = uint8_t(kind << 5 | delta);
    return 1;
  }
  out[0] = uint8_t(kind << 5 | kTimeEscape);
  return 1 + PutVarint(delta - kTimeEscape, out + 1);
}

size_t TRecordEncoder::Encode(int64_t timeMicros, uint8_t reportID, const uint8_t* data, uint16_t size,
                              uint8_t* out) {
  size = std::min(size, kMaxRecordedReportSize);
  const int slot = SlotOf(reportID, data, size);
  if (slot < 0) {
    size_t n = PutTime(timeMicros, kOther, out);
    n += PutVarint(size, out + n);
    out[n++] = reportID;
    if (size) std::memcpy(out + n, data, size);
    lastSlot_ = -1;
    return n + size;
  }
  auto& last = slots_[size_t(slot)];
  size_t n;
  if (known_[size_t(slot)] && std::memcmp(last.data(), data, kSlotBytes) == 0) {
    const bool predicted = lastSlot_ >= 0 && successor_[size_t(lastSlot_)] == slot;
    n = PutTime(timeMicros, predicted ? kNext : kSame, out);
    if (!predicted) {
      out[n++] = data[60];
      out[n++] = data[61];
    }
  } else {
    int changed = 0;
    if (known_[size_t(slot)])
      for (size_t i = 0; i < kSlotBytes; ++i) changed += last[i] != data[i];
    if (known_[size_t(slot)] && 2 + 8 + changed < int(kSlotBytes)) {
      n = PutTime(timeMicros, kPatch, out);
      out[n++] = data[60];
      out[n++] = data[61];
      uint8_t* mask = out + n;
      std::memset(mask, 0, 8);
      n += 8;
      for (size_t i = 0; i < kSlotBytes; ++i)
        if (last[i] != data[i]) {
          mask[i / 8] |= uint8_t(1 << (i % 8));
          out[n++] = data[i];
        }
    } else {
      n = PutTime(timeMicros, kFull, out);
      std::memcpy(out + n, data, kSlotBytes);
      n += kSlotBytes;
    }
    std::memcpy(last.data(), data, kSlotBytes);
    known_[size_t(slot)] = true;
  }
  if (lastSlot_ >= 0) successor_[size_t(lastSlot_)] = int16_t(slot);
  lastSlot_ = slot;
  return n;
}

size_t TRecordEncoder::EncodeEnd(int64_t timeMicros, TRecordingEnd reason, uint8_t* out) {
  size_t n = PutTime(timeMicros, kEnd, out);
  out[n++] = uint8_t(reason);
  return n;
}

// ---------------------------------------------------------------------------

TRecordingReader::TRecordingReader(std::vector<uint8_t> file)
    : file_(std::move(file)), slots_(kSlotCount), successor_(kSlotCount, -1), known_(kSlotCount) {
  ParseHeader();
}

bool TRecordingReader::Fail(TStatus status, size_t offset) {
  status_ = status;
  stopOffset_ = offset;
  return false;
}

bool TRecordingReader::ParseHeader() {
  const uint8_t* p = file_.data();
  if (file_.size() < 14 || std::memcmp(p, kRecordingMagic, 8) != 0) return Fail(TStatus::Foreign, 0);
  version_ = Get16(p + 8);
  const uint32_t bodySize = Get32(p + 10);
  if (version_ != kRecordingVersion) return Fail(TStatus::Foreign, 0);
  if (bodySize > kMaxHeaderBody || bodySize < 14 + 8) return Fail(TStatus::Corrupt, 0);
  if (file_.size() < 14 + size_t(bodySize) + 4) return Fail(TStatus::Truncated, 0);
  const size_t end = 14 + bodySize;
  if (Crc32(p, end) != Get32(p + end)) return Fail(TStatus::Corrupt, 0);
  size_t q = 14;
  uint64_t start = 0;
  for (int i = 0; i < 8; ++i) start |= uint64_t(p[q + i]) << (8 * i);
  header_.StartUtcMicros = int64_t(start);
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
  pos_ = blockEnd_ = end + 4;
  return true;
}

bool TRecordingReader::OpenBlock() {
  blockStart_ = pos_;
  const size_t left = file_.size() - pos_;
  if (left == 0) return Fail(TStatus::Unended, pos_);
  if (left < kBlockHeaderSize) return Fail(TStatus::Truncated, pos_);
  const uint8_t* h = file_.data() + pos_;
  const uint32_t size = Get32(h);
  pos_ += kBlockHeaderSize;
  if (size > file_.size() - pos_) {
    // The writer stopped inside this block: its records up to the cut are good,
    // as far as they go, but nothing vouches for them.
    lastBlock_ = true;
    blockEnd_ = file_.size();
    return true;
  }
  if (Crc32(file_.data() + pos_, size) != Get32(h + 8)) return Fail(TStatus::Corrupt, blockStart_);
  blockEnd_ = pos_ + size;
  return true;
}

bool TRecordingReader::Next(TRecordedReport& report) {
  if (status_ != TStatus::Reading) return false;
  while (pos_ == blockEnd_) {
    if (lastBlock_) return Fail(TStatus::Truncated, blockStart_);
    if (!OpenBlock()) return false;
  }
  const TStatus cut = lastBlock_ ? TStatus::Truncated : TStatus::Corrupt;
  const uint8_t* p = file_.data() + pos_;
  const size_t avail = blockEnd_ - pos_;
  const uint8_t kind = p[0] >> 5;
  uint64_t delta = p[0] & 0x1F;
  size_t n = 1, used = 0;
  if (delta == kTimeEscape) {
    uint64_t more;
    if (!GetVarint(p + 1, avail - 1, more, used)) return Fail(cut, blockStart_);
    delta += more;
    n += used;
  }
  auto need = [&](size_t bytes) { return n + bytes <= avail; };
  int slot = -1;
  switch (kind) {
    case kNext:
      if (lastSlot_ < 0 || successor_[size_t(lastSlot_)] < 0) return Fail(TStatus::Corrupt, blockStart_);
      slot = successor_[size_t(lastSlot_)];
      break;
    case kSame:
    case kPatch:
      if (!need(2)) return Fail(cut, blockStart_);
      if (p[n + 1] > 1) return Fail(TStatus::Corrupt, blockStart_);
      slot = p[n] * 2 + p[n + 1];
      n += 2;
      if (!known_[size_t(slot)]) return Fail(TStatus::Corrupt, blockStart_);
      if (kind == kPatch) {
        if (!need(8)) return Fail(cut, blockStart_);
        const uint8_t* mask = p + n;
        n += 8;
        auto& s = slots_[size_t(slot)];
        for (size_t i = 0; i < kSlotBytes; ++i)
          if (mask[i / 8] >> (i % 8) & 1) {
            if (!need(1)) return Fail(cut, blockStart_);
            s[i] = p[n++];
          }
        if (s[60] * 2 + s[61] != slot) return Fail(TStatus::Corrupt, blockStart_);
      }
      break;
    case kFull:
      if (!need(kSlotBytes)) return Fail(cut, blockStart_);
      if (p[n + 61] > 1) return Fail(TStatus::Corrupt, blockStart_);
      slot = p[n + 60] * 2 + p[n + 61];
      std::memcpy(slots_[size_t(slot)].data(), p + n, kSlotBytes);
      known_[size_t(slot)] = true;
      n += kSlotBytes;
      break;
    case kOther: {
      uint64_t size;
      if (!GetVarint(p + n, avail - n, size, used)) return Fail(cut, blockStart_);
      n += used;
      if (size > kMaxRecordedReportSize) return Fail(TStatus::Corrupt, blockStart_);
      if (!need(1 + size)) return Fail(cut, blockStart_);
      report.ReportID = p[n++];
      report.Size = uint16_t(size);
      if (size) std::memcpy(report.Data.data(), p + n, size);
      n += size;
      break;
    }
    case kEnd:
      if (!need(1)) return Fail(cut, blockStart_);
      endReason_ = TRecordingEnd(std::min<uint8_t>(p[n], 2));
      lastUnit_ += int64_t(delta);
      status_ = TStatus::Ended;
      stopOffset_ = blockStart_;
      return false;
    default:
      return Fail(TStatus::Corrupt, blockStart_);
  }
  if (slot >= 0) {
    report.ReportID = 0;
    report.Size = kSlotBytes;
    std::memcpy(report.Data.data(), slots_[size_t(slot)].data(), kSlotBytes);
    if (lastSlot_ >= 0) successor_[size_t(lastSlot_)] = int16_t(slot);
  }
  lastSlot_ = slot;
  lastUnit_ += int64_t(delta);
  report.TimeMicros = lastUnit_ * kRecordingTimeUnitMicros;
  pos_ += n;
  ++reportsRead_;
  return true;
}

std::string TRecordingReader::Problem() const {
  const std::string where = " (байт " + std::to_string(stopOffset_) + ", " + Clock(LastTimeMicros()) +
                            ", отчётов: " + std::to_string(reportsRead_) + ")";
  switch (status_) {
    case TStatus::Foreign:
      if (version_ != 0 && file_.size() >= 8 && std::memcmp(file_.data(), kRecordingMagic, 8) == 0)
        return "Версия записи " + std::to_string(version_) + " этой программе неизвестна";
      return "Файл не является записью ТС4170";
    case TStatus::Truncated:
      return "Запись оборвана" + where;
    case TStatus::Corrupt:
      return "Запись повреждена" + where;
    case TStatus::Unended:
      return "Запись не завершена" + where;
    default:
      return {};
  }
}

}  // namespace ts
