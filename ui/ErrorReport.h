#pragma once
// The one path for an error to reach the user. Every window procedure, hook,
// timer and thread entry runs its handler through Guarded, so nothing crosses a
// Win32 callback, whatever is thrown, and the program goes on.

#include <exception>
#include <optional>
#include <string>

#include "ui/Exception.h"

namespace ts {

// Where reports go: the application installs its message box, a test its
// recorder. Returns the sink it replaces; nullptr restores the default, an error
// box with the program's title.
using TErrorSink = void (*)(const std::exception& error);
TErrorSink SetErrorSink(TErrorSink sink);

// Hands the error to the sink; a sink that fails itself is ignored.
void ReportException(const std::exception& error);

// Runs body and hands anything it throws to report (something that is not an
// std::exception as "Unknown error"); returns fallback then.
template <class Report, class F, class R>
R GuardedTo(Report&& report, F&& body, R fallback) {
  try {
    return body();
  } catch (const std::exception& e) {
    report(e);
  } catch (...) {
    report(Exception("Unknown error"));
  }
  return fallback;
}

template <class Report, class F>
void GuardedTo(Report&& report, F&& body) {
  GuardedTo(
      report, [&] { return body(), true; }, false);
}

// The same with the user as the one to tell.
template <class F, class R>
R Guarded(F&& body, R fallback) {
  return GuardedTo(ReportException, body, fallback);
}

template <class F>
void Guarded(F&& body) {
  GuardedTo(ReportException, body);
}

// For a report that must wait (until a sender is released): the text of what
// body threw, or nothing when it returned.
template <class F>
std::optional<std::string> FailureOf(F&& body) {
  std::optional<std::string> failure;
  GuardedTo([&](const std::exception& e) { failure = e.what(); }, body);
  return failure;
}

}  // namespace ts
