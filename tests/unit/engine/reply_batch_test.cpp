#include "engine/reply_batch.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/unit/engine/engine_fixture.h"

namespace chron::testing {
namespace {

class ReplyBatchTest : public EngineTest {};

TEST_F(ReplyBatchTest, RepliesGoOutInOrderPerSocketWithOneTransmitStampTakenAtTheSend) {
  FakeUdpSocket* a = AddAdapter("eth0", "10.0.0.1");
  FakeUdpSocket* b = AddAdapter("eth1", "10.0.1.1");
  FakeUdpSocket* failing = AddAdapter("eth2", "10.0.2.1");
  failing->FailSendWith(ENOBUFS);
  ReplyBatch batch;
  const char* peers[] = {"10.0.0.7", "10.0.0.8", "10.0.1.7", "10.0.2.7", "10.0.2.8"};
  AdapterEntry* through[] = {&rt.sockets.adapters[0], &rt.sockets.adapters[0], &rt.sockets.adapters[1],
                             &rt.sockets.adapters[2], &rt.sockets.adapters[2]};
  for (size_t i = 0; i < std::size(peers); ++i) {
    batch.Add(*through[i]->socket, Message(kModeServer, 0, 4, 0, 0, 1), Endpoint(peers[i], 40000), nullptr);
  }
  clock.Advance(5'000'000);  // the stamp is the clock at the send, not at the Add
  const uint64_t now = TimestampToUint64(NtpNow(clock));
  ReportLimit reports;
  EXPECT_EQ(batch.Send(clock, reports), 3u) << "the failed ones are not counted as answered";
  ASSERT_EQ(a->sent().size(), 2u);
  ASSERT_EQ(b->sent().size(), 1u);
  EXPECT_TRUE(SameEndpoint(a->sent()[0].peer, Endpoint("10.0.0.7", 40000)));
  EXPECT_TRUE(SameEndpoint(a->sent()[1].peer, Endpoint("10.0.0.8", 40000)));
  for (const FakeDatagram& d : {a->sent()[0], a->sent()[1], b->sent()[0]}) EXPECT_EQ(ReadWord64(d.bytes, 40), now);
  // Both failures of the third socket: one report within the limit's window.
  EXPECT_EQ(console.Count(WinsockErrorText("SNTP-Server", "sendto", ENOBUFS)), 1);
  EXPECT_EQ(batch.Send(clock, reports), 0u);  // nothing is kept
  EXPECT_EQ(a->sent().size(), 2u);
}

}  // namespace
}  // namespace chron::testing
