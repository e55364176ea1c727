#include "service/service_config.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/keys.h"
#include "messages/report.h"
#include "platform/arguments.h"

namespace chron {
namespace {

// Texts without a catalogue entry of their own go out under the warning event's entry ("%1").
void Report(const SettingNotice& notice) {
  const std::string path(notice.path);
  const std::string used = std::to_string(notice.used);
  if (notice.kind == SettingNotice::Kind::kText) {
    ReportMessage(msg::kEventWarning,
                  {"SNTP-Init: Der Registry-Wert " + path + " ist als Text (\"" + notice.text +
                   "\") statt als Zahl gespeichert und wird nicht verwendet, es gilt der Standardwert " + used + "."});
  } else if (path == "Client\\PollInterval") {
    ReportMessage(msg::kPollIntervalInvalid, {notice.stored, notice.used});
  } else if (path == "Server\\BroadcastInterval") {
    ReportMessage(msg::kBroadcastIntervalInvalid, {notice.stored, notice.used});
  } else {
    ReportMessage(msg::kEventWarning, {"SNTP-Init: Der Registry-Wert " + path + " (" + std::to_string(notice.stored) +
                                       ") ist ungültig, wird auf " + used + " gesetzt."});
  }
}

uint32_t ShortestIntervalFromEnvironment() {
  const std::string text = platform::EnvironmentValue("CHRON_MIN_INTERVAL");
  if (text.empty()) return 0;
  char* end = nullptr;
  unsigned long seconds = std::strtoul(text.c_str(), &end, 10);
  if (*end != '\0' || seconds == 0 || seconds > UINT32_MAX) return 0;
  return static_cast<uint32_t>(seconds);
}

}  // namespace

void ReadServiceConfiguration(platform::Registry& registry, Configuration* config, ConfigSubset subset) {
  std::vector<SettingNotice> notices;
  ReadConfiguration(registry, config, subset, &notices);
  // The values beside the table, which neither program reports on when it reads them.
  ReadIpv6Setting(registry, config);
  ReadKeyFileSetting(registry, config);
  ReadDisciplineSetting(registry, config);
  ReadWaitForNetworkSetting(registry, config);
  ReadProtectionSettings(registry, config, subset);
  ReadNtsSettings(registry, config, subset);
  KeepInValidRanges(config, subset, &notices, ShortestIntervalFromEnvironment());
  for (const SettingNotice& notice : notices) Report(notice);
}

void ReportRegistryComplaint(const std::string& text) { ReportMessage(msg::kEventError, {"SNTP-Init: " + text}); }

}  // namespace chron
