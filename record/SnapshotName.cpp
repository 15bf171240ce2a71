#include "record/SnapshotName.h"

#include <cstdio>

namespace ts {

std::wstring SnapshotName(const TStamp& t, const std::function<bool(const std::wstring&)>& exists) {
  char base[64];
  std::snprintf(base, sizeof base, "TS4170 %04d-%02d-%02d %02d-%02d-%02d.%03d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second, t.Millisecond);
  const std::string stem = base;
  for (int n = 1;; ++n) {
    const std::string name = n == 1 ? stem + ".png" : stem + " (" + std::to_string(n) + ").png";
    const std::wstring wide(name.begin(), name.end());
    if (!exists(wide)) return wide;
  }
}

}  // namespace ts
