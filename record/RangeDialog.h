#pragma once
// Asks which part of a recording to export: its start and end in seconds from
// the recording's start, the whole recording offered first.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ts {

struct TTimeRange {
  int64_t FromMicros = 0, ToMicros = 0;
};

// "12.5" or "12,5" seconds, spaces around allowed; nothing for anything else.
std::optional<int64_t> ParseSeconds(const std::wstring& text);

// The modal dialog; false when the user cancels it. The range it gives lies
// within the recording and is not empty. `problem`, when there is one, says
// what is wrong with the recording before the user chooses.
bool AskRecordingRange(HWND owner, int64_t durationMicros, const std::wstring& problem, TTimeRange& range);

}  // namespace ts
