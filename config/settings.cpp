#include "config/settings.h"

#include <algorithm>

namespace chron {

const Setting* FindSetting(std::string_view path) {
  auto same = [path](const Setting& setting) {
    return std::equal(path.begin(), path.end(), setting.path.begin(), setting.path.end(), [](char a, char b) {
      auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
      return lower(a) == lower(b);
    });
  };
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
