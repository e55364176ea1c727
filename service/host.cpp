#include "service/host.h"

#include <utility>

#include "engine/receive_loop.h"
#include "messages/report.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/status_file.h"
#include "service/service_config.h"

namespace chron {

Host::Host(HostParts parts) : parts_(parts) { rt_.server_part = parts == HostParts::kClientAndServer; }

void Host::Open() {
  registry_ = platform::OpenMachineRegistry(ReportRegistryComplaint);
  rt_.registry = registry_.get();
  rt_.clock = &platform::SystemClock();
  rt_.network = &platform::SystemNetwork();
  rt_.stop.request_stop = [this] { return RequestStop(); };
}

void Host::ReadSettings() {
  ReadServiceConfiguration(*registry_, &rt_.config,
                           parts_ == HostParts::kClientAndServer ? ConfigSubset::kFull : ConfigSubset::kClientOnly);
}

void Host::EnterDebugMode() {
  SetDebugMode(true);
  SetReportTarget(ReportTarget::kConsole);
}

std::error_code Host::WatchSignals(std::function<void(platform::ControlSignal)> handler) {
  return platform::ControlSignalWatcher::Start(std::move(handler), &signals_);
}

void Host::HandleConsoleSignal(platform::ControlSignal signal) {
  chron::HandleConsoleSignal(rt_.stop, rt_.sockets, signal);
}

int Host::Start(const StartHooks& hooks, uint32_t* specific_exit_code) {
  const int code = ServiceStart(rt_, hooks, specific_exit_code);
  if (code != 0) return code;
  const std::string version = std::to_string(CHRON_VERSION_MAJOR) + "." + std::to_string(CHRON_VERSION_MINOR) + "." +
                              std::to_string(CHRON_VERSION_BUILD) + "." + std::to_string(CHRON_VERSION_REVISION);
  publisher_ = std::make_unique<StatusPublisher>(
      StatusSources{rt_.config, rt_.roles(), *rt_.clock, rt_.status, rt_.sockets, rt_.stop.shutdown},
      parts_ == HostParts::kClientOnly ? "chron95" : "chronsvc", version, platform::StatusFilePath(), status_line_);
  publisher_->Start();
  return 0;
}

void Host::RunReceiveLoop() { ReceiveLoop(rt_.Receive()); }

bool Host::RequestStop() { return chron::RequestStop(rt_.stop, rt_.sockets); }

bool Host::WaitFinished(std::chrono::milliseconds limit) { return chron::WaitFinished(rt_.stop, limit); }

bool Host::Stopping() { return rt_.stop.shutdown.Wait(0); }

void Host::EndWorkers() { rt_.stop.workers.Join(); }

void Host::End() {
  EndWorkers();
  publisher_.reset();  // its last write, while the service manager's connection still exists
  signals_.reset();
}

}  // namespace chron
