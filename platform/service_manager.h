// The service control manager as seen by a service: the status it is told.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
  // Tells the service manager the status; 0 or an error number.
  virtual int SetStatus(const ServiceStatus& status) = 0;
  // Tells the service manager a line of free text about the service's work (systemd's STATUS=);
  // 0 or an error number. Where the manager has no place for it, nothing.
  virtual int SetStatusText(const std::string& /*text*/) { return 0; }
};

// Connects to the service manager that started this process. Fails with an error number
// when the process was not started by one (started from a console). `handler_failed` tells which
// step failed: false for the connection itself (the dispatcher), true when the connection stood
// but the service's control handler could not be registered.
int ConnectServiceManager(std::unique_ptr<ServiceManager>* manager, bool* handler_failed);

}  // namespace chron::platform
