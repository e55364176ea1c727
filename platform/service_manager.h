// The service control manager as seen by a service: the status it is told.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

namespace chron::platform {

enum class ServiceState : uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

struct ServiceStatus {
  uint32_t service_type = 0x30;  // own-process and share-process bits
  ServiceState state = ServiceState::kStartPending;
  uint32_t controls_accepted = 1;  // stop only
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t checkpoint = 0;
  uint32_t wait_hint_ms = 0;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Tells the service manager the status; no error or the system's error.
  virtual std::error_code SetStatus(const ServiceStatus& status) = 0;
  // Tells the service manager a line of free text about the service's work (systemd's STATUS=);
  // no error or the system's error. Where the manager has no place for it, nothing.
  virtual std::error_code SetStatusText(const std::string& /*text*/) { return {}; }
};

// Connects to the service manager that started this process. Fails with the system's error
// when the process was not started by one (started from a console). `handler_failed` tells which
// step failed: false for the connection itself (the dispatcher), true when the connection stood
// but the service's control handler could not be registered.
std::error_code ConnectServiceManager(std::unique_ptr<ServiceManager>* manager, bool* handler_failed);

}  // namespace chron::platform
