// Tells an authenticated broadcast that is sent for the first time from a copy of an older one
// sent again (a replay: its MAC stays valid for ever, and it would set the clock back by its
// age). Used only where a key file is in force; without one every broadcast is taken as before.
//
// A broadcast is taken when its Transmit Timestamp is later than that of the last broadcast
// taken under the same key. The sender's address is not part of it: the MAC covers the message,
// not the address, so a capture sent again from another address must not count as a new sender.
// Several broadcasters sharing the key therefore agree on one time line: of two whose clocks
// differ by more than the spacing of their broadcasts, the later one's time is followed.
//
// A broadcaster whose clock was set back sends on an earlier time line, all of it "not later".
// Such a line is taken once kLineLength broadcasts in a row (four intervals) have kept to it:
// each sent later than the one before by as much as it arrived later (in step: within
// kToleranceNs plus 1/1000 of the spacing). A broadcast taken in between (the old line still
// sent) starts the count anew, and so does one out of step. A replayed sequence of old captures
// therefore never gets there while the broadcaster still sends: its own broadcasts break every
// attempt, and a burst of captures keeps to no line. Once an earlier line is taken, captures of
// the later one are still refused: until the new line passes the highest stamp ever taken, a
// broadcast stamped below it is taken only in step with the last one taken.
//
// The arrival times are of a steady clock (nanoseconds, any origin): the clock this client sets
// is stepped by the very broadcasts judged here, which would break the comparison.
//
// Kept in memory only: a restart forgets the stamps, and the first authentic broadcast after it
// is taken whatever its age. A replay at that moment sets the clock back once, and only until the
// broadcaster's next broadcast, later than every capture, is taken (the deviation limit, where it
// is active, bounds that step); from then on the captures are dropped again.
// Used by the receive-loop thread only.
#pragma once

#include <cstdint>
#include <vector>

namespace chron {

enum class ReplayVerdict {
  kTaken,        // later than the last broadcast taken under its key
  kReplayed,     // not later: dropped
  kNewTimeLine,  // not later, but the last of kLineLength in a row on an earlier line: taken
};

class BroadcastReplay {
 public:
  static constexpr int kLineLength = 5;
  static constexpr int64_t kToleranceNs = 100'000'000;

  // Judges a broadcast whose MAC is valid under `key_id`, with Transmit Timestamp `transmit`
  // (64-bit NTP timestamp, 2^-32 s) that arrived at `arrival_ns` on a steady clock. A broadcast
  // taken (kTaken, kNewTimeLine) becomes the last one of its key.
  ReplayVerdict Judge(uint32_t key_id, uint64_t transmit, int64_t arrival_ns);

 private:
  struct Line {
    uint32_t key_id;
    uint64_t last_taken;  // Transmit Timestamp of the last broadcast taken
    int64_t last_taken_arrival_ns;
    uint64_t highest;  // the latest Transmit Timestamp ever taken
    // The earlier line being followed: how many in a row, and the latest of them.
    int length = 0;
    uint64_t latest_transmit = 0;
    int64_t latest_arrival_ns = 0;
  };
  std::vector<Line> lines_;  // one per key heard; keys are those of the key file
};

}  // namespace chron
