#pragma once
// Names for snapshots: the time to the millisecond, and a number after it when
// a file of that name is already there, so two snapshots never share a file.

#include <functional>
#include <string>

namespace ts {

struct TStamp {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

// "TS4170 2026-12-08 14-03-07.123.png", or "... 14-03-07.123 (2).png" and on
// while `exists` says the name is taken.
std::wstring SnapshotName(const TStamp& t, const std::function<bool(const std::wstring&)>& exists);

}  // namespace ts
