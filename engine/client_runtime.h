// What the SNTP client keeps between its request and the reply, shared by the poll thread and
// the receive loop.
#pragma once

#include <atomic>
#include <memory>

#include "engine/broadcast_replay.h"
#include "engine/nts_client.h"
#include "engine/pending_request.h"
#include "engine/report_limit.h"

namespace chron {

class ClockDiscipline;

struct ClientRuntime {
  // The latest request, until a reply answers it.
  PendingRequest pending_request;
  // The adapter row the latest request left from (its departure stamp gives T1); kIpv6Request
  // for the IPv6 socket.
  std::atomic<int> request_adapter{0};
  // The poll thread's reports of failed requests.
  ReportLimit reports;
  // The discipline of the clock (Client\Discipline = 1), set by StartDiscipline at start-up;
  // null: every reply steps the clock.
  std::shared_ptr<ClockDiscipline> discipline;
  // With a key file: the Transmit Timestamps of the broadcasts taken, which replays of older
  // ones do not pass. The receive loop's alone.
  BroadcastReplay broadcast_replay;
  // With Client\NTS: the session and the pending request's identifier, and the last NTS-KE
  // failure reported (an nts::NtsKeFailure; kNone after a success), reported once until it changes.
  NtsClientState nts;
  std::atomic<int> nts_failure{0};
};

}  // namespace chron
