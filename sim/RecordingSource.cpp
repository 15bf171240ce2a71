#include "sim/RecordingSource.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "record/RecordFormat.h"
#include "ui/Cp1251.h"
#include "ui/Exception.h"
#include "ui/WinHandle.h"

namespace ts::sim {

RecordingSource::RecordingSource(const std::wstring& fileName) {
  const TStdioFile f(_wfopen(fileName.c_str(), L"rb"));
  if (!f) throw Exception("Cannot open file " + Narrow(fileName));
  uint8_t buffer[1 << 16];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f.Get())) > 0;)
    file_.insert(file_.end(), buffer, buffer + n);
  TRecordingReader reader(file_);
  TRecordedReport report;
  while (reader.Next(report)) {
  }
  if (reader.Status() == TRecordingReader::TStatus::Foreign || reader.ReportsRead() == 0)
    throw Exception(reader.Status() == TRecordingReader::TStatus::Foreign ? reader.Problem()
                                                                          : "В записи нет отчётов");
  char text[256];
  std::snprintf(text, sizeof text, "Запись: %04X/%04X %s, отчётов %llu, %.1f с", reader.Header().VendorID,
                reader.Header().ProductID, reader.Header().Product.c_str(),
                static_cast<unsigned long long>(reader.ReportsRead()), reader.LastTimeMicros() / 1e6);
  summary_ = text;
  if (!reader.Problem().empty()) summary_ += "; " + reader.Problem();
}

std::string RecordingSource::Describe() const { return summary_; }

void RecordingSource::Serve(Transport& server, const std::atomic<bool>& stop, std::atomic<uint64_t>& sent,
                            const std::function<void(const std::string&)>& log) {
  using Clock = std::chrono::steady_clock;
  uint8_t message[1 + kMaxRecordedReportSize];
  while (!stop) {
    if (server.ClientCount() == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    TRecordingReader reader(file_);
    TRecordedReport report;
    const auto start = Clock::now();
    while (!stop && reader.Next(report)) {
      const auto due = start + std::chrono::microseconds(report.TimeMicros);
      // Due times are kept from the round's start, so lateness never adds up.
      while (!stop && Clock::now() < due) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        if (left >= 1)
          Sleep(DWORD(std::min<int64_t>(left, 50)));
        else
          std::this_thread::yield();
      }
      message[0] = report.ReportID;
      std::memcpy(message + 1, report.Data.data(), report.Size);
      if (server.IsPlugged()) server.SendRaw(message, size_t(1) + report.Size);
      ++sent;
    }
    if (!stop) log("Запись проиграна, сначала");
  }
}

}  // namespace ts::sim
