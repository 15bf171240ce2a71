#include "sim/Transport.h"

#include <cstring>

namespace ts::sim {

Transport::Transport(const Options& options) {
  if (options.hid)
    hid_ = std::make_unique<HidServer>();
  else
    pipe_ = std::make_unique<PipeServer>(options.pipe);
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
void Transport::SendRaw(const void* bytes, size_t size) {
  if (!hid_) return pipe_->SendRaw(bytes, size);
  if (size != kReportSize) return;
  Report report;
  std::memcpy(report.data(), bytes, size);
  hid_->SendReport(report);
}
size_t Transport::ClientCount() const { return hid_ ? hid_->ClientCount() : pipe_->ClientCount(); }
bool Transport::WaitForBacklogBelow(size_t limit, Clock::time_point deadline) const {
  return hid_ ? true : pipe_->WaitForBacklogBelow(limit, deadline);
}
uint64_t Transport::DroppedReports() const { return hid_ ? hid_->DroppedReports() : pipe_->DroppedReports(); }
uint64_t Transport::IgnoredMessages() const { return hid_ ? 0 : pipe_->IgnoredMessages(); }
std::string Transport::LastError() const { return hid_ ? hid_->LastError() : pipe_->LastError(); }

}  // namespace ts::sim
