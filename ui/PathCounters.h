#pragma once
// Counts of what the program does per report — heap allocations, hand-overs to
// the user interface thread, tile blits, presents — kept in the build users run
// so that tests and benchmarks check the program itself. Each count is one
// relaxed increment; nothing orders by them.
//
// Another process finds them through a named file mapping of this process that
// holds their address (TPathCountersPlace) and reads them with
// ReadProcessMemory as a TPathCounts.

#include <atomic>
#include <cstdint>
#include <string>

namespace ts {

struct TPathCounters {
  std::atomic<uint64_t> Allocations{0};  // calls of the program's own new/malloc family
  std::atomic<uint64_t> HandOvers{0};    // calls a worker ran on the user interface thread
  std::atomic<uint64_t> Blits{0};        // surface-to-surface copies (the mirror's tiles)
  std::atomic<uint64_t> Presents{0};     // back surface shown on the screen
  std::atomic<uint64_t> RatedBytes{0};   // bytes the data-rate text has shown, summed over its ticks
};

// Constant-initialised, so allocations made before any constructor runs count too.
inline TPathCounters PathCounters;

inline void CountPath(std::atomic<uint64_t>& counter) { counter.fetch_add(1, std::memory_order_relaxed); }

// The reader's copy, field for field.
struct TPathCounts {
  uint64_t Allocations = 0, HandOvers = 0, Blits = 0, Presents = 0, RatedBytes = 0;
};
static_assert(sizeof(TPathCounts) == sizeof(TPathCounters) && std::atomic<uint64_t>::is_always_lock_free);

struct TPathCountersPlace {
  uint64_t Address;
  uint32_t Size;
};

inline std::wstring PathCountersMappingName(unsigned long processId) {
  return L"TS4170.PathCounters." + std::to_wstring(processId);
}

}  // namespace ts
