// Process-wide state of a running service: configuration, adapter table, events, finished
// flags and the platform facilities it works through. Written only before the worker threads
// start; afterwards the threads share only the events, the atomics, the pending request and
// the adapter table, which only the receive loop changes (under `adapters_mutex`).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "config/configuration.h"
#include "engine/auth.h"
#include "engine/broadcast_copies.h"
#include "engine/host_addresses.h"
#include "engine/pending_request.h"
#include "engine/reply_batch.h"
#include "engine/report_limit.h"
#include "engine/status_board.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/network.h"
#include "platform/registry.h"

namespace chron {

inline constexpr int kMaxAdapters = 64;
inline constexpr uint16_t kNtpPort = 123;
inline constexpr int kAdapterNameSize = 80;  // 79 characters and the terminating zero
inline constexpr int kIpv6Request = -1;      // Runtime::request_adapter: the IPv6 socket

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
  platform::Registry* registry = nullptr;  // the machine hive (start-up, adapter discovery)
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
  // The adapter row the latest request left from (its departure stamp gives T1); kIpv6Request
  // for the IPv6 socket.
  std::atomic<int> request_adapter{0};
  // With the value "IPv6" set: the one IPv6 socket, on the unspecified address and port 123. It
  // answers on every IPv6 address of the host (each reply from the address asked) and carries
  // the client's requests to an IPv6 time server. Opened at start-up, never changed after.
  std::unique_ptr<platform::UdpSocket> ipv6_socket;
  // Read and refreshed by the receive-loop thread alone.
  HostAddresses host_addresses;
  // The receive-loop thread's reports that datagrams can repeat.
  ReportLimit receive_reports;
  // Counters and client events for the status record. Mutable: the message checks that take
  // the runtime read-only count what they drop.
  mutable StatusBoard status;
  // The poll thread's reports of failed requests.
  ReportLimit client_reports;
  // The replies of the receive loop's current pass.
  ReplyBatch replies;
  // Broadcasts taken so far by the receive-loop thread, whose further copies it drops.
  BroadcastCopies broadcast_copies;

  // What a stop request may wake, guarded by `stop_mutex`. Start-up fills the adapter table
  // without a lock while a stop may already arrive on another thread, so the table is handed to
  // the stop only when the receive loop starts over the complete table; the loop then wakes
  // itself for a stop that came earlier.
  std::mutex stop_mutex;
  bool stop_may_wake = false;                     // the table is complete and the loop has started
  platform::SocketWaiter* loop_waiter = nullptr;  // the running loop's waiter; null once it ended

  // Follows a change of the system's addresses: discovers the adapters again and opens and
  // closes sockets to match (set by start-up). Run by the receive-loop thread, which alone
  // changes the table after start-up: it holds `stop_mutex` and `adapters_mutex` while it does.
  std::function<void()> follow_addresses;
  std::atomic<bool> addresses_changed{false};
  // Held shared by the threads beside the receive loop while they use the table's sockets.
  std::shared_mutex adapters_mutex;

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
