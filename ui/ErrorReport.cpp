#include "ui/ErrorReport.h"

#include "ui/Cp1251.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

namespace ts {
namespace {

// Until the application installs its own report, show what it would show.
void DefaultSink(const std::exception& error) {
#ifdef _WIN32
  MessageBoxW(nullptr, Widen(ErrorReportText(error.what())).c_str(), L"Virtual_TS4170", MB_OK | MB_ICONERROR);
#else
  std::fprintf(stderr, "%s\n", ErrorReportText(error.what()).c_str());
#endif
}

TErrorSink sink = nullptr;

}  // namespace

TErrorSink SetErrorSink(TErrorSink next) {
  const TErrorSink previous = sink;
  sink = next;
  return previous;
}

void ReportException(const std::exception& error) {
  try {
    (sink ? sink : &DefaultSink)(error);
  } catch (...) {
    // The report itself failing must not take the caller down.
  }
}

}  // namespace ts
