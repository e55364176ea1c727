// The SNTP server: answers client requests and broadcasts the time through every adapter.
#pragma once

#include "engine/ntp_message.h"
#include "engine/receive_state.h"
#include "engine/contexts.h"
#include "platform/network.h"

#include <cstdint>
#include <span>

namespace chron {

// Answers `request` (host order, Mode 3) that arrived on `socket` at `arrival` from `from`
// with a 48-byte Mode-4 reply to the sender, or with a 68-byte one signed with `key` when the
// request was authenticated with it; while the receive loop's `state` collects its pass's
// replies, the reply joins them.
void ServerReply(const ServerContext& ctx, ReceiveState& state, platform::UdpSocket& socket, const NtpMessage& request,
                 const NtpTimestamp& arrival, const platform::SocketAddress& from, const SymmetricKey* key = nullptr);

// Answers an NTS request (`bytes` as received, `request` its header in host order) under the
// cookie keys of `ctx.nts_keys`: the time with the identifier echoed and new cookies sealed
// under the session's keys, the NTS NAK for a cookie no key opens or a failed authenticator, no
// answer to a request that is no NTS request. Sent at once, not with the pass's batch: the
// batch knows only 48- and 68-byte replies.
void ServerNtsReply(const ServerContext& ctx, ReceiveState& state, platform::UdpSocket& socket,
                    std::span<const uint8_t> bytes, const NtpMessage& request, const NtpTimestamp& arrival,
                    const platform::SocketAddress& from);

// Thread routine of the broadcaster: after the start event, sends one Mode-5 broadcast to
// 255.255.255.255:123 from each in-use adapter's socket every `Server\BroadcastInterval`
// seconds until the shutdown event.
void BroadcastThread(const ServerContext& ctx);

}  // namespace chron
