#include "config/settings.h"

#include <algorithm>

namespace chron {

const Setting* FindSetting(std::string_view path) {
  auto same = [path](const Setting& setting) {
    return std::equal(path.begin(), path.end(), setting.path.begin(), setting.path.end(),
                      [](char a, char b) {
                        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
                        return lower(a) == lower(b);
                      });
  };
  auto it = std::find_if(kSettings.begin(), kSettings.end(), same);
  return it == kSettings.end() ? nullptr : &*it;
}

bool InAppletRange(const Setting& setting, uint32_t value) {
  if (setting.applet_min == 0 && setting.applet_max == 0) return true;
  return value >= setting.applet_min && value <= setting.applet_max;
}

bool InAppletRange(const Setting& setting, std::string_view text) {
  return setting.applet_max == 0 || text.size() <= setting.applet_max;
}

}  // namespace chron
