// Received datagrams of any length and content through the receive path (ReceiveOne): the
// dispatch by length and Mode, the server's reply, the client's checks of replies and
// broadcasts, and the clock step, over the fake network and the fake clock.
//
// The input chooses the settings and then up to kMaxEvents events: a request of the poll
// client, a datagram from a chosen source (signed with a chosen key, or as it is), a receive
// error, the clock moving on, a key file coming into force. After each datagram read, the
// properties below must hold whatever the datagram held.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/auth.h"
#include "engine/client.h"
#include "engine/ntp_message.h"
#include "engine/receive_loop.h"
#include "engine/runtime.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/testutil/fake_clock.h"
#include "tests/testutil/fake_network.h"

namespace chron {
namespace {

using testing::Endpoint;
using testing::FakeClock;
using testing::FakeNetwork;
using testing::FakeUdpSocket;

constexpr int64_t kBaseTimeNs = 1714564800'250'000'000;  // 2024-05-01 12:00:00.250 UTC
constexpr size_t kMaxEvents = 32;
constexpr size_t kMaxDatagram = 1500;                  // bytes; anything over 68 is cut off by the socket
constexpr int kMaxReadsPerDatagram = 4;                // the datagram and the replies it makes us send ourselves
constexpr int64_t kMaxClockMoveNs = int64_t{1} << 42;  // about 73 minutes either way
constexpr char kTimeServer[] = "10.0.0.1";
constexpr char kTimeServerName[] = "zeitgeber";
constexpr const char* kAdapterAddresses[] = {"10.0.0.5", "192.168.1.5"};
// Clock resolutions in nanoseconds: Linux, Windows' 100 ns ticks, a coarse clock, whole seconds.
constexpr int64_t kResolutionsNs[] = {1, 100, 1'000'000, 1'000'000'000};

enum Event : uint8_t {
  kPoll,
  kDatagram,
  kReceiveError,
  kMoveClock,
  kRequireAuthentication,
  kSignedDatagram,
  kLastEvent = kSignedDatagram
};
enum Source : uint8_t {
  kFromTimeServer,
  kFromTimeServerAnyPort,
  kFromOwnAdapter,
  kFromAnyone,
  kLastSource = kFromAnyone
};

// Keys of the signed datagrams: the key file holds none, the first, or the first two of them
// (the first is the own key); the last is in no key file.
const SymmetricKey kKeys[] = {
    {1, platform::MacAlgorithm::kAes128Cmac, std::vector<uint8_t>(16, 0x5a), 1},
    {7, platform::MacAlgorithm::kMd5, {'g', 'e', 'h', 'e', 'i', 'm'}, 2},
    {9, platform::MacAlgorithm::kAes128Cmac, std::vector<uint8_t>(16, 0xa5), 0},
};

// The engine's socket of one adapter, remembering the last datagram it handed out.
class TapSocket : public platform::UdpSocket {
 public:
  explicit TapSocket(std::unique_ptr<platform::UdpSocket> inner) : inner_(std::move(inner)) {}
  std::error_code EnableBroadcast() override { return inner_->EnableBroadcast(); }
  std::error_code Bind(const platform::SocketAddress& local, bool accept_broadcasts) override {
    return inner_->Bind(local, accept_broadcasts);
  }
  std::error_code SendTo(const void* data, size_t size, const platform::SocketAddress& to, size_t* sent) override {
    return inner_->SendTo(data, size, to, sent);
  }
  std::error_code ReceiveFrom(void* buffer, size_t capacity, size_t* received, platform::ReceivedFrom* from,
                              std::optional<int64_t>* arrival) override {
    const std::error_code error = inner_->ReceiveFrom(buffer, capacity, received, from, arrival);
    last_error = error;
    last_from = *from;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    last_bytes.assign(bytes, bytes + (!error ? *received : 0));
    return error;
  }

  std::error_code last_error;
  platform::ReceivedFrom last_from;
  std::vector<uint8_t> last_bytes;

 private:
  std::unique_ptr<platform::UdpSocket> inner_;
};

uint64_t Word64(const std::vector<uint8_t>& bytes, size_t offset) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) value = value << 8 | bytes[offset + i];
  return value;
}

struct Harness {
  FakeNetwork network;
  FakeClock clock{kBaseTimeNs};
  Runtime rt;
  ReceiveState receive;  // the receive loop's, kept from datagram to datagram
  TapSocket* taps[2] = {};
  FakeUdpSocket* fakes[2] = {};
  std::set<uint64_t> request_transmits;  // Transmit Timestamps of the requests the client sent
  std::set<uint64_t> answered;           // those of them a reply has set the clock for

  explicit Harness(FuzzedDataProvider& input) {
    rt.clock = &clock;
    rt.network = &network;
    rt.server_part = !input.ConsumeBool();  // true: the client alone
    rt.config.client_active = input.ConsumeBool();
    rt.config.client_broadcast = input.ConsumeBool();
    rt.config.server_active = input.ConsumeBool();
    rt.config.client_run_once = input.ConsumeBool();
    rt.config.client_max_diff_second_active = input.ConsumeBool();
    rt.config.client_max_diff_second = input.ConsumeIntegral<uint32_t>();
    rt.config.client_time_source = input.ConsumeBool() ? kTimeServerName : kTimeServer;
    network.AddHost(kTimeServerName, testing::Ip(kTimeServer));
    if (input.ConsumeBool()) clock.FailStepsWith(1);  // EPERM: no right to set the clock
    clock.SetResolution(kResolutionsNs[input.ConsumeIntegralInRange<size_t>(0, std::size(kResolutionsNs) - 1)]);
    for (size_t i = 0; i < 2; ++i) {
      AdapterEntry& entry = rt.sockets.adapters[i];
      entry.in_use = true;
      entry.name = "eth" + std::to_string(i);
      entry.address = Endpoint(kAdapterAddresses[i], kNtpPort);
      std::unique_ptr<platform::UdpSocket> inner;
      FUZZ_CHECK(!network.CreateUdpSocket(&inner));
      FUZZ_CHECK(!inner->Bind(entry.address, true));
      fakes[i] = network.sockets().back();
      auto tap = std::make_unique<TapSocket>(std::move(inner));
      taps[i] = tap.get();
      entry.socket = std::move(tap);
    }
    // The poll client returns after one request, and run-once has nothing left to stop.
    rt.stop.start.Set();
    rt.stop.shutdown.Set();
    rt.stop.request_stop = [this] {
      rt.stop.shutdown.Set();
      return true;
    };
  }

  void Poll() {
    const size_t before = fakes[0]->sent().size();
    ClientPollThread(rt.Client());
    const std::vector<testing::FakeDatagram> sent = fakes[0]->sent();
    FUZZ_CHECK(sent.size() <= before + 1);
    // Without a usable key no request; with one, every request carries its MAC.
    if (rt.auth.required && rt.auth.Own() == nullptr) FUZZ_CHECK(sent.size() == before);
    if (sent.size() == before + 1) {
      const std::vector<uint8_t>& request = sent.back().bytes;
      if (rt.auth.required) {
        const SymmetricKey* key = nullptr;
        FUZZ_CHECK(CheckMac(rt.auth, request.data(), request.size(), true, &key) == MacVerdict::kValid);
      } else {
        FUZZ_CHECK(request.size() == kNtpMessageSize);
      }
      request_transmits.insert(Word64(request, 40));
    }
  }

  // Reads the datagrams queued on adapter `index` (the given one, and what our own replies to
  // ourselves bring) and checks each read.
  void Receive(size_t index) {
    for (int read = 0; read < kMaxReadsPerDatagram && fakes[index]->pending() > 0; ++read) {
      const size_t sends_before = fakes[index]->sent().size();
      const size_t steps_before = clock.steps().size();
      ReceiveOne(rt.Receive(), receive, *taps[index]);
      CheckRead(index, sends_before, steps_before);
      CheckAuthentication(index, sends_before, steps_before);
    }
  }

  void CheckRead(size_t index, size_t sends_before, size_t steps_before) {
    const TapSocket& tap = *taps[index];
    const std::vector<uint8_t>& d = tap.last_bytes;
    const bool ntp_size = !tap.last_error && (d.size() == kNtpMessageSize || d.size() == kNtpMessageWithAuthSize);
    const unsigned mode = d.empty() ? 0 : d[0] & 7;

    // At most one reply, only from an active server, only to a request, and to its sender with
    // the request's Transmit Timestamp as Originate.
    const std::vector<testing::FakeDatagram> sent = fakes[index]->sent();
    FUZZ_CHECK(sent.size() <= sends_before + 1);
    if (sent.size() == sends_before + 1) {
      const testing::FakeDatagram& reply = sent.back();
      FUZZ_CHECK(ntp_size && mode == kModeClient && rt.ServerActive());
      FUZZ_CHECK(reply.bytes.size() >= kNtpMessageSize);
      FUZZ_CHECK((reply.bytes[0] & 7) == kModeServer);
      FUZZ_CHECK((reply.bytes[0] >> 3 & 7) == (d[0] >> 3 & 7));
      FUZZ_CHECK(testing::SameEndpoint(reply.peer, tap.last_from.source));
      // Never to a port 0, zero, limited broadcast or multicast address.
      const uint32_t to = platform::NetworkToHost32(reply.peer.address);
      FUZZ_CHECK(reply.peer.port != 0 && to != 0 && to != 0xFFFFFFFFu && (to >> 28) != 0xE);
      FUZZ_CHECK(Word64(reply.bytes, 24) == Word64(d, 40));
    }

    // At most one step, only for a broadcast the client takes (one that came as a broadcast) or
    // the first reply to one of its own requests from the server asked, and never beyond an
    // active deviation limit.
    const std::vector<int64_t>& steps = clock.steps();
    FUZZ_CHECK(steps.size() <= steps_before + 1);
    if (steps.size() == steps_before + 1) {
      FUZZ_CHECK(ntp_size);
      if (mode == kModeBroadcast) {
        FUZZ_CHECK(rt.ClientAcceptsBroadcasts() && tap.last_from.broadcast);
      } else {
        FUZZ_CHECK(mode == kModeServer && rt.ClientActive());
        FUZZ_CHECK(request_transmits.count(Word64(d, 24)) == 1);
        FUZZ_CHECK(answered.insert(Word64(d, 24)).second);
        FUZZ_CHECK(testing::SameEndpoint(tap.last_from.source, Endpoint(kTimeServer, kNtpPort)));
      }
      if (rt.config.client_max_diff_second_active != 0) {
        const int64_t step = steps.back();
        const uint64_t magnitude = step < 0 ? 0 - static_cast<uint64_t>(step) : static_cast<uint64_t>(step);
        FUZZ_CHECK(magnitude < (uint64_t{rt.config.client_max_diff_second} + 1) * 1'000'000'000 + 1);
      }
    }
  }

  // With a key file the clock moves only for a valid MAC of the own key, and a signed request
  // is answered only under a key of the file, signed with that key; an unsigned request, and
  // every request without a key file, gets an unsigned reply.
  void CheckAuthentication(size_t index, size_t sends_before, size_t steps_before) {
    const std::vector<uint8_t>& d = taps[index]->last_bytes;
    const SymmetricKey* key = nullptr;
    if (clock.steps().size() == steps_before + 1 && rt.auth.required) {
      FUZZ_CHECK(CheckMac(rt.auth, d.data(), d.size(), true, &key) == MacVerdict::kValid);
    }
    const std::vector<testing::FakeDatagram> sent = fakes[index]->sent();
    if (sent.size() != sends_before + 1) return;
    const std::vector<uint8_t>& reply = sent.back().bytes;
    if (!rt.auth.required || d.size() == kNtpMessageSize) {
      FUZZ_CHECK(reply.size() == kNtpMessageSize);
      return;
    }
    FUZZ_CHECK(CheckMac(rt.auth, d.data(), d.size(), false, &key) == MacVerdict::kValid);
    const SymmetricKey* reply_key = nullptr;
    FUZZ_CHECK(CheckMac(rt.auth, reply.data(), reply.size(), false, &reply_key) == MacVerdict::kValid);
    FUZZ_CHECK(reply_key == key);
  }

  void RequireAuthentication(FuzzedDataProvider& input) {
    rt.auth.required = true;
    rt.auth.keys.assign(kKeys, kKeys + input.ConsumeIntegralInRange<size_t>(0, 2));
  }

  platform::SocketAddress ChooseSource(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<uint8_t>(0, kLastSource)) {
      case kFromTimeServer: return Endpoint(kTimeServer, kNtpPort);
      case kFromTimeServerAnyPort: return Endpoint(kTimeServer, input.ConsumeIntegral<uint16_t>());
      case kFromOwnAdapter: return Endpoint(kAdapterAddresses[input.ConsumeBool()], kNtpPort);
      default: {
        platform::SocketAddress from;
        from.address = input.ConsumeIntegral<uint32_t>();
        from.port = input.ConsumeIntegral<uint16_t>();
        return from;
      }
    }
  }

  void Datagram(FuzzedDataProvider& input, bool sign) {
    const size_t index = input.ConsumeBool();
    const platform::SocketAddress from = ChooseSource(input);
    const bool as_broadcast = input.ConsumeBool();
    // Lets a reply carry the latest request's Transmit Timestamp as its Originate without
    // the fuzzer having to guess it.
    const bool echo_request = input.ConsumeBool();
    const int64_t travel_ns = input.ConsumeIntegralInRange<int64_t>(0, kMaxClockMoveNs);
    std::string bytes = input.ConsumeRandomLengthString(kMaxDatagram);
    if (sign) bytes.resize(kNtpMessageWithAuthSize);  // the header, the key identifier and the MAC
    const std::vector<testing::FakeDatagram> requests = fakes[0]->sent();
    if (echo_request && bytes.size() >= kNtpMessageSize && !requests.empty()) {
      std::memcpy(bytes.data() + 24, requests.back().bytes.data() + 40, 8);
    }
    if (sign) {
      FUZZ_CHECK(SignMessage(kKeys[input.ConsumeIntegralInRange<size_t>(0, std::size(kKeys) - 1)],
                             reinterpret_cast<uint8_t*>(bytes.data())));
    }
    clock.Advance(travel_ns);
    std::vector<uint8_t> datagram(bytes.begin(), bytes.end());
    if (as_broadcast) {
      fakes[index]->PushBroadcast(std::move(datagram), from);
    } else {
      fakes[index]->Push(std::move(datagram), from);
    }
    Receive(index);
  }

  void Run(FuzzedDataProvider& input) {
    for (size_t i = 0; i < kMaxEvents && input.remaining_bytes() > 0; ++i) {
      const auto event = static_cast<Event>(input.ConsumeIntegralInRange<uint8_t>(0, kLastEvent));
      switch (event) {
        case kPoll: Poll(); break;
        case kDatagram:
        case kSignedDatagram: Datagram(input, event == kSignedDatagram); break;
        case kReceiveError: {
          const size_t index = input.ConsumeBool();
          fakes[index]->PushReceiveError(input.ConsumeIntegralInRange<int>(1, 200));
          Receive(index);
          break;
        }
        case kMoveClock: clock.Advance(input.ConsumeIntegralInRange<int64_t>(-kMaxClockMoveNs, kMaxClockMoveNs)); break;
        case kRequireAuthentication: RequireAuthentication(input); break;
      }
    }
  }
};

}  // namespace
}  // namespace chron

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  chron::fuzz::CheckedReports reports(input.ConsumeBool());
  chron::Harness harness(input);
  harness.Run(input);
  return 0;
}
