// Shared set-up of the engine tests: a runtime over a fake network and a fake clock, with the
// console (reports and trace in debug mode) captured line by line.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/ntp_message.h"
#include "engine/runtime.h"
#include "messages/report.h"
#include "tests/testutil/fake_clock.h"
#include "tests/testutil/fake_network.h"

namespace chron::testing {

// 2024-05-01 12:00:00.250 UTC in nanoseconds since 1970.
inline constexpr int64_t kBaseTimeNs = 1714564800'250'000'000;
// 2^-32 s units of common intervals.
inline constexpr uint64_t kSecond = uint64_t{1} << 32;
inline constexpr uint64_t kMillisecond = 4294967;  // 2^32 / 1000, rounded down

// Console output of the process while the object lives; debug mode on.
class CapturedConsole {
 public:
  CapturedConsole() {
    SetDebugMode(true);
    SetReportTarget(ReportTarget::kConsole);
    SetConsoleWriter([this](std::string_view text) {
      {
        std::lock_guard lock(mutex_);
        text_.append(text);
      }
      changed_.notify_all();
    });
  }
  ~CapturedConsole() {
    SetConsoleWriter([](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); });
  }
  std::string Text() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    text_.clear();
  }
  int Count(std::string_view needle) const {
    std::lock_guard lock(mutex_);
    return CountLocked(needle);
  }
  bool Contains(std::string_view needle) const { return Count(needle) > 0; }
  // Waits until `needle` occurs at least `times` times; false after `timeout`.
  bool WaitFor(std::string_view needle, int times = 1,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return CountLocked(needle) >= times; });
  }

 private:
  int CountLocked(std::string_view needle) const {
    int count = 0;
    for (size_t at = text_.find(needle); at != std::string::npos; at = text_.find(needle, at + 1)) ++count;
    return count;
  }
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string text_;
};

// The trace lines and reports are a contract with administrators' log filters: each kind of
// verdict is run once in a transcript, compared whole with tests/unit/engine/golden/<name>.txt,
// so that the behaviour tests need not repeat the texts. CHRON_UPDATE_GOLDEN=1 writes the file
// instead (review the difference before committing it).
// The local date and time in trace lines depend on the time zone the test runs in: they are
// masked (the 64-bit hex value beside each stays exact).
inline void ExpectGolden(const std::string& name, const std::string& raw) {
  static const std::regex kLocalTime(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\t)");
  const std::string transcript = std::regex_replace(raw, kLocalTime, "JJJJ-MM-TT hh:mm:ss.mmm\t");
  const std::filesystem::path path = std::filesystem::path(__FILE__).parent_path() / "golden" / (name + ".txt");
  if (const char* update = std::getenv("CHRON_UPDATE_GOLDEN"); update != nullptr && std::string(update) == "1") {
    std::ofstream(path, std::ios::binary) << transcript;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << "no golden transcript " << path;
  const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(transcript, expected) << "the transcript differs from " << path;
}

// Runs each case on a clear console and joins what each printed under its name.
template <typename Case>
std::string Transcript(CapturedConsole& console, const std::vector<std::pair<std::string, Case>>& cases) {
  std::string transcript;
  for (const auto& [name, run] : cases) {
    console.Clear();
    run();
    transcript += "== " + name + "\n" + console.Text();
  }
  return transcript;
}

// Report texts as the console shows them.
inline std::string WinsockErrorText(std::string_view area, std::string_view call, int error) {
  return std::string(area) + ": Winsock Funktion " + std::string(call) + " meldet Fehler: " + std::to_string(error);
}
inline constexpr std::string_view kReadyText =
    "SNTP-Init: SNTP Dienst ist vollständig initialisiert und betriebsbereit.";
inline constexpr std::string_view kStoppedText = "SNTP-Shutdown: Der SNTP Dienst wurde beendet.";
inline constexpr std::string_view kBroadcastStoppedText = "SNTP-Server: Der Broadcastdienst wurde beendet.";

// Wire bytes of a host-order message (48 bytes), padded or cut to `size`.
inline std::vector<uint8_t> WireBytes(NtpMessage message, size_t size = kNtpMessageSize) {
  NtpToNetworkOrder(&message);
  std::vector<uint8_t> bytes(kNtpMessageSize);
  NtpToBytes(message, bytes.data());
  bytes.resize(size, 0);
  return bytes;
}

// A message with the given header byte fields and timestamps (64-bit values), stratum 1.
inline NtpMessage Message(uint32_t mode, uint32_t li = 0, uint32_t version = 4, uint64_t originate = 0,
                          uint64_t receive = 0, uint64_t transmit = 0) {
  NtpMessage m;
  SetLeapIndicator(&m, li);
  SetVersionNumber(&m, version);
  SetMode(&m, mode);
  SetStratum(&m, 1);
  SetOriginateTime(&m, TimestampFromUint64(originate));
  SetReceiveTime(&m, TimestampFromUint64(receive));
  SetTransmitTime(&m, TimestampFromUint64(transmit));
  return m;
}

inline uint64_t ReadWord64(const std::vector<uint8_t>& bytes, size_t offset) {
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) value = value << 8 | bytes.at(offset + i);
  return value;
}

// Network first, so that it outlives the runtime's socket handles.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest() : clock(kBaseTimeNs) {
    rt.clock = &clock;
    rt.network = &network;
    rt.config.client_active = 0;
    rt.config.client_broadcast = 0;
    rt.config.server_active = 0;
    rt.config.server_broadcast = 0;
    rt.stop.request_stop = [this] {
      ++stop_requests;
      rt.stop.shutdown.Set();
      // The wake-up datagram: zero bytes from the first adapter's socket to its own address.
      size_t sent = 0;
      return !rt.sockets.adapters[0].socket->SendTo("", 0, rt.sockets.adapters[0].address, &sent);
    };
    rt.stop.release_instance = [this] { ++instance_releases; };
  }

  // Adds an in-use adapter with a bound socket; returns the socket's test side.
  FakeUdpSocket* AddAdapter(const std::string& name, std::string_view dotted, bool in_use = true) {
    AdapterEntry& entry = rt.sockets.adapters[adapter_count++];
    entry.in_use = in_use;
    entry.name = name;
    entry.address = Endpoint(dotted, kNtpPort);
    EXPECT_FALSE(network.CreateUdpSocket(&entry.socket));
    EXPECT_FALSE(entry.socket->Bind(entry.address, true));
    return network.sockets().back();
  }

  FakeNetwork network;
  FakeClock clock;
  Runtime rt;
  CapturedConsole console;
  std::atomic<int> stop_requests{0};
  std::atomic<int> instance_releases{0};
  size_t adapter_count = 0;
};

// Waits until `condition` holds; false after `timeout`.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace chron::testing
