// Linked into the program only: it replaces the global allocation functions so
// that each counts, wraps malloc, calloc and realloc (-Wl,--wrap), and publishes
// where the counters are.

#include "ui/PathCounters.h"

#include <windows.h>

#include <cstdlib>
#include <new>

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);

void* __wrap_malloc(size_t size) {
  ts::CountPath(ts::PathCounters.Allocations);
  return __real_malloc(size);
}

void* __wrap_calloc(size_t count, size_t size) {
  ts::CountPath(ts::PathCounters.Allocations);
  return __real_calloc(count, size);
}

void* __wrap_realloc(void* block, size_t size) {
  ts::CountPath(ts::PathCounters.Allocations);
  return __real_realloc(block, size);
}
}

namespace {

void* Allocate(size_t size) noexcept {
  ts::CountPath(ts::PathCounters.Allocations);
  return __real_malloc(size ? size : 1);
}

void* AllocateOrThrow(size_t size) {
  for (;;) {
    if (void* block = Allocate(size)) return block;
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

// Written once before any report flows; the mapping lives as long as the process.
struct TPublication {
  TPublication() {
    const std::wstring name = ts::PathCountersMappingName(GetCurrentProcessId());
    HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(ts::TPathCountersPlace), name.c_str());
    if (!mapping) return;
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(ts::TPathCountersPlace));
    if (!view) return;
    *static_cast<ts::TPathCountersPlace*>(view) = {reinterpret_cast<uint64_t>(&ts::PathCounters),
                                                   sizeof(ts::TPathCounters)};
  }
} publication;

}  // namespace

// The matching deletes stay the library's: they free what malloc gave.
void* operator new(size_t size) { return AllocateOrThrow(size); }
void* operator new[](size_t size) { return AllocateOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
