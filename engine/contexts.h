// What each part of a running service works with, handed to it instead of the whole service:
// the client (poll thread and the judgement of replies and broadcasts), the server (replies
// and the broadcast thread) and the receive loop, which drives both. The parts themselves are
// owned by the service (engine/runtime.h) and outlive every context made from them.
#pragma once

#include "config/configuration.h"
#include "engine/auth.h"
#include "engine/client_runtime.h"
#include "engine/nts_session.h"
#include "engine/protection.h"
#include "engine/sockets.h"
#include "engine/status_board.h"
#include "engine/stop_control.h"
#include "platform/clock.h"
#include "platform/network.h"

namespace chron {

// Which parts run, fixed at start-up.
struct Roles {
  bool server_active = false;
  bool server_broadcasts = false;
  bool client_active = false;
  bool client_accepts_broadcasts = false;  // the client takes broadcasts (Client\Broadcast)
};

struct ClientContext {
  const Configuration& config;
  Roles roles;
  platform::Clock& clock;
  platform::Network& network;
  Sockets& sockets;  // the request leaves through an adapter's socket (shared lock)
  ClientRuntime& state;
  const Authentication& auth;
  StatusBoard& status;
  StopControl& stop;  // the start event, the shutdown event; a run-once client requests the stop
  // The NTS-KE driver for Client\NTS; null where this build has none (the client then takes no
  // time while Client\NTS is set).
  nts::NtsKeyEstablishment* nts_ke = nullptr;
};

struct ServerContext {
  const Configuration& config;
  platform::Clock& clock;
  Sockets& sockets;  // the broadcast thread sends through every adapter's socket (shared lock)
  const Authentication& auth;
  StatusBoard& status;
  StopControl& stop;
  // The NTS-KE server's cookie keys: requests with NTS fields are answered with NTS. Null: NTS off
  // (such requests are dropped by their length, as before).
  const nts::NtsServerKeys* nts_keys = nullptr;
};

struct ReceiveContext {
  Roles roles;
  platform::Clock& clock;
  platform::Network& network;
  Sockets& sockets;  // the loop alone changes the table after start-up
  StatusBoard& status;
  StopControl& stop;
  const Protection& protection;  // whom the server answers and how often, whose broadcasts count
  ClientContext client;
  ServerContext server;
};

}  // namespace chron
