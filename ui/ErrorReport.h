#pragma once
// The application-wide error report. Every window procedure, hook, timer and thread
// entry catches what escapes a handler and hands it here, so no exception crosses
// a Win32 callback and the program goes on.

#include <exception>

namespace ts {

void ReportException(const std::exception& error);
void ReportUnknownException();

// Runs body and reports anything it throws; returns fallback then.
template <class F, class R>
R Guarded(F&& body, R fallback) {
  try {
    return body();
  } catch (const std::exception& e) {
    ReportException(e);
  } catch (...) {
    ReportUnknownException();
  }
  return fallback;
}

}  // namespace ts
