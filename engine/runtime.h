// Process-wide state of a running service: configuration, adapter table, events, finished
// flags and the platform facilities it works through. Written only before the worker threads
// start; afterwards the threads share only the events, the atomics and the pending request.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "config/configuration.h"
#include "engine/auth.h"
#include "engine/host_addresses.h"
#include "engine/pending_request.h"
#include "engine/report_limit.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/network.h"
#include "platform/registry.h"

namespace chron {

inline constexpr int kMaxAdapters = 64;
inline constexpr uint16_t kNtpPort = 123;
inline constexpr int kAdapterNameSize = 80;  // 79 characters and the terminating zero

struct AdapterEntry {
  bool in_use = false;
  std::string name;                 // at most 79 bytes; "<unbekannt>" from SNMP
  platform::SocketAddress address;  // port 123 once start-up has run
  std::unique_ptr<platform::UdpSocket> socket;
};
using AdapterTable = std::array<AdapterEntry, kMaxAdapters>;

class ClockDiscipline;

struct Runtime {
  // The server part is on (chronsvc); off in a program that runs the client alone (chron95),
  // where the server stays inactive whatever its settings say.
  bool server_part = true;
  Configuration config;
  AdapterTable adapters;
  platform::Clock* clock = nullptr;
  platform::Network* network = nullptr;
  platform::Registry* registry = nullptr;  // the machine hive (adapter discovery, key file path)
  Authentication auth;                     // filled by LoadAuthentication at start-up
  // The client's discipline of the clock (Client\Discipline = 1), set by StartDiscipline at
  // start-up; null: every reply steps the clock.
  std::shared_ptr<ClockDiscipline> discipline;

  platform::Event shutdown;  // set once by RequestStop
  platform::Event start;     // set by the receive loop when it starts
  std::atomic<bool> receive_finished{true};
  std::atomic<bool> client_finished{true};
  std::atomic<bool> broadcast_finished{true};
  // The client's latest request, until a reply answers it.
  PendingRequest pending_request;
  // Read and refreshed by the receive-loop thread alone.
  HostAddresses host_addresses;
  // The receive-loop thread's reports that datagrams can repeat.
  ReportLimit receive_reports;

  // What a stop request may wake, guarded by `stop_mutex`. Start-up fills the adapter table
  // without a lock while a stop may already arrive on another thread, so the table is handed to
  // the stop only when the receive loop starts over the complete table; the loop then wakes
  // itself for a stop that came earlier.
  std::mutex stop_mutex;
  bool stop_may_wake = false;                     // the table is complete and the loop has started
  platform::SocketWaiter* loop_waiter = nullptr;  // the running loop's waiter; null once it ended

  // RequestStop of the host: signals `shutdown`, reports, wakes the receive loop.
  std::function<bool()> request_stop;
  // Called when the receive loop ends: releases the instance mutex.
  std::function<void()> release_instance;

  bool ServerActive() const { return server_part && config.server_active != 0; }
  bool ServerBroadcasts() const { return ServerActive() && config.server_broadcast != 0; }
  bool ClientActive() const { return config.client_active != 0; }
  bool ClientAcceptsBroadcasts() const { return ClientActive() && config.client_broadcast != 0; }
};

}  // namespace chron
