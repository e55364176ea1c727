// A running service: its configuration, the platform facilities it works through, and the state
// of each of its parts, each behind its own header. Written only before the worker threads
// start; afterwards the threads share the parts as each part's header says.
#pragma once

#include <memory>

#include "config/configuration.h"
#include "engine/auth.h"
#include "engine/client_runtime.h"
#include "engine/contexts.h"
#include "engine/nts_ke_server.h"
#include "engine/protection.h"
#include "engine/sockets.h"
#include "engine/status_board.h"
#include "engine/stop_control.h"
#include "platform/clock.h"
#include "platform/network.h"
#include "platform/registry.h"

namespace chron {

// Network Time Security's drivers: the NTS-KE server beside the NTP server, and the poll
// client's key establishment.
struct NtsParts {
  nts::NtsServerKeys server_keys;  // the cookie keys the KE server rotates and the NTP server opens
  std::unique_ptr<nts::NtsKeServer> ke_server;
  std::unique_ptr<nts::NtsKeyEstablishment> ke_client;
};

struct Runtime {
  // The server part is on (chronsvc); off in a program that runs the client alone (chron95),
  // where the server stays inactive whatever its settings say.
  bool server_part = true;
  Configuration config;
  platform::Clock* clock = nullptr;
  platform::Network* network = nullptr;
  platform::Registry* registry = nullptr;  // the machine hive (adapter discovery, key file path)

  Sockets sockets;
  ClientRuntime client;
  Authentication auth;    // filled by LoadAuthentication at start-up
  Protection protection;  // from the settings at start-up
  // Counters and client events for the status record.
  StatusBoard status;
  StopControl stop;
  // Network Time Security, set at start-up by the NTS-KE drivers where they run; null: NTS off on
  // that side.
  nts::NtsServerKeys* nts_keys = nullptr;
  nts::NtsKeyEstablishment* nts_ke = nullptr;
  // The drivers behind them where the settings ask for NTS and the build has TLS (PrepareNts).
  NtsParts nts;

  // The workers use everything above: they end first.
  ~Runtime() { stop.workers.Join(); }

  bool ServerActive() const { return server_part && config.server_active != 0; }
  bool ServerBroadcasts() const { return ServerActive() && config.server_broadcast != 0; }
  bool ClientActive() const { return config.client_active != 0; }
  // NTS cannot authenticate broadcasts: a client with Client\NTS takes none.
  bool ClientAcceptsBroadcasts() const {
    return ClientActive() && config.client_broadcast != 0 && config.client_nts == 0;
  }
  Roles roles() const { return {ServerActive(), ServerBroadcasts(), ClientActive(), ClientAcceptsBroadcasts()}; }

  // The parts each thread works with; `clock` and `network` must be set.
  ClientContext Client() { return {config, roles(), *clock, *network, sockets, client, auth, status, stop, nts_ke}; }
  ServerContext Server() { return {config, *clock, sockets, auth, status, stop, nts_keys}; }
  ReceiveContext Receive() {
    return {roles(), *clock, *network, sockets, status, stop, protection, Client(), Server()};
  }
};

}  // namespace chron
