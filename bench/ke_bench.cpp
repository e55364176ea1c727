// chron_ke_bench: NTS-KE sessions per second. Several connections at once, each a thread that
// runs one full NTS-KE (TCP, TLS 1.3 handshake with the certificate checked, request, response,
// keys exported) after the other against one server for a fixed time, and counts the sessions
// completed in the measured interval and the failures by kind.
//
//   chron_ke_bench --server 10.0.0.1 --ca ca.pem [--port 4460] [--connections 8]
//                  [--duration 5] [--warmup 1] [--label NAME]
//
// The last line of the output is machine-readable (rps: sessions per second, replies: sessions
// in the measured interval, so that run-bench.sh treats it like chron_loadgen's):
//   RESULT <label> rps=.. replies=.. failed=.. p50_us=.. p99_us=..
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/nts_ke_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string server;
  std::string ca;
  uint16_t port = 4460;
  int connections = 8;
  double duration = 5.0;  // seconds measured
  double warmup = 1.0;    // seconds before measuring
  std::string label = "ke";
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--server") o->server = value;
    else if (name == "--ca") o->ca = value;
    else if (name == "--port") o->port = static_cast<uint16_t>(std::atoi(value));
    else if (name == "--connections") o->connections = std::atoi(value);
    else if (name == "--duration") o->duration = std::atof(value);
    else if (name == "--warmup") o->warmup = std::atof(value);
    else if (name == "--label") o->label = value;
    else return false;
  }
  return argc % 2 == 1 && !o->server.empty() && !o->ca.empty() && o->connections > 0 && o->connections <= 64 &&
         o->duration > 0 && o->warmup >= 0;
}

struct Tally {
  std::mutex mutex;
  std::vector<uint32_t> session_us;  // of the sessions completed in the measured interval
  std::map<int, uint64_t> failed;    // by NtsKeFailure, in the measured interval
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: chron_ke_bench --server ADDRESS --ca FILE [--port 4460] [--connections 8]\n"
                 "                      [--duration 5] [--warmup 1] [--label NAME]\n");
    return 2;
  }
  auto seconds = [](double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
  };
  const Clock::time_point from = Clock::now() + seconds(o.warmup);
  const Clock::time_point to = from + seconds(o.duration);
  Tally tally;
  std::vector<std::thread> threads;
  for (int i = 0; i < o.connections; ++i) {
    threads.emplace_back([&] {
      chron::nts::TlsNtsKeyEstablishment establishment(o.ca);
      for (;;) {
        const Clock::time_point start = Clock::now();
        if (start >= to) return;
        const chron::nts::NtsKeOutcome outcome = establishment.Establish(o.server, o.port);
        const Clock::time_point end = Clock::now();
        if (end < from || end >= to) continue;
        std::lock_guard lock(tally.mutex);
        if (outcome.failure == chron::nts::NtsKeFailure::kNone && !outcome.session.cookies.empty()) {
          tally.session_us.push_back(
              static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(end - start).count()));
        } else {
          ++tally.failed[static_cast<int>(outcome.failure)];
          if (tally.failed.size() == 1 && tally.failed.begin()->second == 1) {
            std::fprintf(stderr, "chron_ke_bench: first failure (%d): %s\n", static_cast<int>(outcome.failure),
                         outcome.detail.c_str());
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::vector<uint32_t>& l = tally.session_us;
  std::sort(l.begin(), l.end());
  auto percentile = [&](double fraction) {
    return l.empty()
               ? 0u
               : l[std::min(l.size() - 1, static_cast<size_t>(fraction * static_cast<double>(l.size() - 1) + 0.5))];
  };
  uint64_t failed = 0;
  for (const auto& [kind, count] : tally.failed) {
    failed += count;
    std::printf("%s: failed (%d) %llu\n", o.label.c_str(), kind, static_cast<unsigned long long>(count));
  }
  const double rate = static_cast<double>(l.size()) / o.duration;
  std::printf("%s: %d connections, %.1f s measured after %.1f s warm-up: %zu sessions, %.0f/s, p50 %u us, p99 %u us\n",
              o.label.c_str(), o.connections, o.duration, o.warmup, l.size(), rate, percentile(0.5), percentile(0.99));
  std::printf("RESULT %s rps=%.1f replies=%zu failed=%llu p50_us=%u p99_us=%u\n", o.label.c_str(), rate, l.size(),
              static_cast<unsigned long long>(failed), percentile(0.5), percentile(0.99));
  return 0;
}
