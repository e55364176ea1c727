#include "engine/outgoing.h"

namespace chron {
namespace {

constexpr int32_t kReplyPrecision = -2;           // 2^-2 s, byte 0xFE
constexpr int32_t kBroadcastPrecision = -7;       // 2^-7 s, byte 0xF9
constexpr uint32_t kBroadcastPoll = 6;            // 2^6 s
constexpr uint32_t kBroadcastRootDispersion = 1;  // raw 16.16 word: 2^-16 s

}  // namespace

NtpMessage BuildRequest(const NtpTimestamp& transmit) {
  NtpMessage request;
  InitNtpMessage(&request);
  SetLeapIndicator(&request, 0);
  SetVersionNumber(&request, 4);
  SetMode(&request, kModeClient);
  SetStratum(&request, 0);
  SetPrecision(&request, 0);
  SetRootDelay(&request, 0);
  SetRootDispersion(&request, 0);
  SetReferenceTime(&request, ZeroTimestamp);
  SetOriginateTime(&request, ZeroTimestamp);
  SetReceiveTime(&request, ZeroTimestamp);
  SetTransmitTime(&request, transmit);
  return request;
}

NtpMessage BuildReply(const NtpMessage& request, const NtpTimestamp& arrival, const NtpTimestamp& reference) {
  NtpMessage reply;
  SetLeapIndicator(&reply, 0);
  SetVersionNumber(&reply, GetVersionNumber(request));
  SetMode(&reply, kModeServer);
  SetStratum(&reply, 1);
  SetPoll(&reply, GetPoll(request));
  SetPrecision(&reply, kReplyPrecision);
  SetRootDelay(&reply, 0);
  SetRootDispersion(&reply, 0);
  SetReferenceId(&reply, kReferenceIdLocl);
  SetReceiveTime(&reply, arrival);
  SetReferenceTime(&reply, reference);
  SetOriginateTime(&reply, request.transmit_time);
  return reply;
}

NtpMessage BuildBroadcast(const NtpTimestamp& reference) {
  NtpMessage broadcast;
  SetLeapIndicator(&broadcast, 0);
  SetVersionNumber(&broadcast, 4);
  SetMode(&broadcast, kModeBroadcast);
  SetStratum(&broadcast, 1);
  SetPoll(&broadcast, kBroadcastPoll);
  SetPrecision(&broadcast, kBroadcastPrecision);
  SetRootDelay(&broadcast, 0);
  SetRootDispersion(&broadcast, kBroadcastRootDispersion);
  SetReferenceId(&broadcast, kReferenceIdLocl);
  SetReferenceTime(&broadcast, reference);
  SetOriginateTime(&broadcast, ZeroTimestamp);
  SetReceiveTime(&broadcast, ZeroTimestamp);
  return broadcast;
}

}  // namespace chron
