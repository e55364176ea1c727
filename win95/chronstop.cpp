// chronstop: sets (or tests, or resets) the named shutdown event that stops a running chron95.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/named_objects.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/error_text.h"
#include "platform/named_event.h"

namespace {

using chron::kShutdownEventName;

// Exit codes: 0 done (with --test: signalled), 1 not signalled (--test only), 2 failure or usage.
constexpr int kFailure = 2;

void PrintUsage(std::FILE* to) {
  chron::platform::WriteText(to,
                             "Aufruf: chronstop [--name NAME] [--test | --reset | --hold-set SEKUNDEN]\n"
                             "  (ohne Option)        setzt das Ereignis: ein laufendes chron95 beendet sich\n"
                             "  --test               Ende mit 0, wenn das Ereignis gesetzt ist, sonst mit 1\n"
                             "  --reset              setzt das Ereignis zurück\n"
                             "  --hold-set SEKUNDEN  setzt das Ereignis und hält es so lange offen\n"
                             "  --name NAME          anderes Ereignis statt Orbek.SNTP.Shutdown.Event\n"
                             "Das Ereignis besteht nur, solange ein Prozess es offen hält.\n");
}

// A count of seconds in decimal digits.
bool ParseSeconds(std::string_view text, long* seconds) {
  long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return false;
  *seconds = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = chron::platform::ProgramArguments(argc, argv);
  enum class Action { kSet, kTest, kReset, kHoldSet } action = Action::kSet;
  std::string name = kShutdownEventName;
  long hold_seconds = 0;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--test") {
      action = Action::kTest;
    } else if (arg == "--reset") {
      action = Action::kReset;
    } else if (arg == "--hold-set" && i + 1 < args.size() && ParseSeconds(args[i + 1], &hold_seconds)) {
      action = Action::kHoldSet;
      ++i;
    } else if (arg == "--name" && i + 1 < args.size() && !args[i + 1].empty()) {
      name = args[++i];
    } else if (arg == "-h" || arg == "--help") {
      PrintUsage(stdout);
      return 0;
    } else {
      chron::platform::PrintText(stderr, "chronstop: unbekannter oder unvollständiger Parameter: %s\n",
                                 args[i].c_str());
      PrintUsage(stderr);
      return kFailure;
    }
  }

  std::unique_ptr<chron::platform::NamedEvent> event;
  if (const std::error_code error = chron::platform::NamedEvent::Create(name, &event)) {
    // The system's error number (a Windows error code on Windows), so the system's own text.
    std::string reason;
    if (!chron::platform::SystemErrorMessage(error.value(), &reason))
      reason = "Fehler " + std::to_string(error.value());
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    chron::platform::PrintText(stderr, "chronstop: Ereignis %s kann nicht geöffnet werden: %s\n", name.c_str(),
                               reason.c_str());
    return kFailure;
  }
  switch (action) {
    case Action::kTest:
      switch (event->Wait(0)) {
        case chron::platform::WaitResult::kSignalled: return 0;
        case chron::platform::WaitResult::kTimeout: return 1;
        case chron::platform::WaitResult::kFailed: break;
      }
      chron::platform::PrintText(stderr, "chronstop: Ereignis %s kann nicht geprüft werden\n", name.c_str());
      return kFailure;
    case Action::kReset: event->Reset(); return 0;
    case Action::kSet: event->Set(); return 0;
    case Action::kHoldSet:
      event->Set();
      std::this_thread::sleep_for(std::chrono::seconds(hold_seconds));
      return 0;
  }
  return kFailure;
}
