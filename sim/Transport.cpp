#include "sim/Transport.h"

#include <cstring>
#include <thread>

namespace ts::sim {

Transport::Transport(const Options& options) {
  if (!options.hid) {
    pipe_ = std::make_unique<PipeServer>(options.pipe);
    return;
  }
  hid_ = std::make_unique<HidServer>(options.hidProductId, options.hidTool);
}

Transport::~Transport() = default;

void Transport::SetOutputHandler(PipeServer::OutputHandler handler) {
  hid_ ? hid_->SetOutputHandler(std::move(handler)) : pipe_->SetOutputHandler(std::move(handler));
}
void Transport::Plug() { hid_ ? hid_->Plug() : pipe_->Plug(); }
void Transport::Unplug() { hid_ ? hid_->Unplug() : pipe_->Unplug(); }
bool Transport::IsPlugged() const { return hid_ ? hid_->IsPlugged() : pipe_->IsPlugged(); }
void Transport::SendReport(const Report& report) {
  hid_ ? hid_->SendReport(report) : pipe_->SendReport(report);
}
void Transport::SendReports(const Report* reports, size_t count) {
  if (hid_) return hid_->SendReports(reports, count);
  for (size_t i = 0; i < count; ++i) pipe_->SendReport(reports[i]);
}
void Transport::SendRaw(const void* bytes, size_t size) {
  if (!hid_) return pipe_->SendRaw(bytes, size);
  if (size != kReportSize) return;
  Report report;
  std::memcpy(report.data(), bytes, size);
  hid_->SendReport(report);
}
size_t Transport::ClientCount() const { return hid_ ? hid_->ClientCount() : pipe_->ClientCount(); }
bool Transport::WaitForBacklogBelow(size_t limit, Clock::time_point deadline) const {
  if (!hid_) return pipe_->WaitForBacklogBelow(limit, deadline);
  while (hid_->Backlog() >= limit) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}
size_t Transport::SmallestBacklog() const { return hid_ ? hid_->Backlog() : pipe_->SmallestBacklog(); }

std::optional<Report> Transport::WaitForOutputReport(Clock::time_point deadline) {
  return hid_ ? hid_->WaitForOutputReport(deadline) : pipe_->WaitForOutputReport(deadline);
}

bool Transport::WaitForClientCount(size_t count, Clock::time_point deadline) const {
  if (!hid_) return pipe_->WaitForClientCount(count, deadline);
  return ClientCount() == count;
}
uint64_t Transport::DroppedReports() const { return hid_ ? hid_->DroppedReports() : pipe_->DroppedReports(); }
uint64_t Transport::IgnoredMessages() const { return hid_ ? 0 : pipe_->IgnoredMessages(); }
std::string Transport::LastError() const { return hid_ ? hid_->LastError() : pipe_->LastError(); }

}  // namespace ts::sim
