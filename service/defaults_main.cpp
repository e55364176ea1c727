// chron-defaults: writes the default of each of the twelve settings that the machine hive lacks
// (MachineHivePath(): CHRON_HIVE or the built-in path), under the hive's lock, and leaves every
// value that exists as it is. The Debian package runs it from its postinst, so that the applet
// finds a complete set on its first opening. Prints each value it wrote; exit status 0, or 1
// when the hive could not be read or written (it is then unchanged).
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "platform/registry.h"

int main() {
  const std::string hive = chron::platform::MachineHivePath();
  std::unique_ptr<chron::platform::Registry> registry = chron::platform::OpenMachineRegistry();
  std::vector<std::string_view> written;
  const chron::platform::RegStatus status = chron::WriteAbsentDefaults(*registry, &written);
  if (status != chron::platform::kRegSuccess) {
    std::fprintf(stderr, "chron-defaults: %s: Voreinstellungen nicht geschrieben (Fehler %ld)\n", hive.c_str(), status);
    return 1;
  }
  for (std::string_view path : written) {
    std::printf("%s: %.*s\n", hive.c_str(), static_cast<int>(path.size()), path.data());
  }
  return 0;
}
