// The messages this program sends, built from values alone (host order, ready for
// NtpToNetworkOrder): the client's request, the server's reply and its broadcast. The caller
// reads the clock, in the order the fields are set: the Reference Timestamp before the Transmit
// Timestamp, which is read last, just before the message leaves.
#pragma once

#include "engine/ntp_message.h"

namespace chron {

// Version 4, mode 3; every field zero but the Transmit Timestamp, and Poll 10 and the Reference
// Identifier "LOCL" of InitNtpMessage.
NtpMessage BuildRequest(const NtpTimestamp& transmit);

// The reply to `request` (host order): LI 0, the request's version and poll echoed whatever they
// are, mode 4, stratum 1, precision 2^-2 s, reference "LOCL", Receive Timestamp `arrival`,
// Originate Timestamp the request's Transmit Timestamp. The Transmit Timestamp is the caller's.
NtpMessage BuildReply(const NtpMessage& request, const NtpTimestamp& arrival, const NtpTimestamp& reference);

// The broadcast (mode 5): LI 0, version 4, stratum 1, poll 2^6 s, precision 2^-7 s, root
// dispersion 2^-16 s, reference "LOCL", Originate and Receive Timestamps zero. The Transmit
// Timestamp is the caller's.
NtpMessage BuildBroadcast(const NtpTimestamp& reference);

}  // namespace chron
