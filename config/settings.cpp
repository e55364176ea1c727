#include "config/settings.h"

#include <algorithm>

#include "platform/ascii_case.h"

namespace chron {

const Setting* FindSetting(std::string_view path) {
  auto same = [path](const Setting& setting) { return platform::EqualsIgnoringCase(path, setting.path); };
  auto it = std::find_if(kSettings.begin(), kSettings.end(), same);
  return it == kSettings.end() ? nullptr : &*it;
}

bool InValidRange(const Setting& setting, uint32_t value) {
  if (setting.min == 0 && setting.max == 0) return true;
  return value >= setting.min && value <= setting.max;
}

bool InValidRange(const Setting& setting, std::string_view text) {
  return setting.max == 0 || text.size() <= setting.max;
}

uint32_t ServiceValue(const Setting& setting, uint32_t value, uint32_t lowest) {
  if (setting.service_min == 0 && setting.service_max == 0) return value;
  const uint32_t min = lowest != 0 ? std::min(lowest, setting.service_min) : setting.service_min;
  return std::clamp(value, min, setting.service_max);
}

}  // namespace chron
