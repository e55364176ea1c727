// Every subkey of the NetTrans class key may carry one "IPAddress" text. Unlike the Windows NT
// method, nothing is skipped by name, the loopback address is kept, a subkey without a readable
// address is passed over silently, and the only trace line is the one for an address found.
#include "win95/nettrans_class.h"

#include <string>

#include "messages/report.h"
#include "service/adapters.h"

namespace chron {
namespace {

constexpr char kNetTransKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans";
constexpr uint32_t kLastIndex = 511;
constexpr uint32_t kAddressBufferSize = 80;

}  // namespace

bool DiscoverAdaptersFromWin95Registry(const DiscoverySource& source, AdapterTable& rows) {
  ClearAdapterTable(rows);
  platform::RegStatus status = source.registry->OpenKey(kNetTransKey);
  if (status != platform::kRegSuccess) {
    ReportMessage(msg::kRegistryError, {"RegKeyOpenEx()", kNetTransKey, static_cast<int64_t>(status)});
    return false;
  }
  int accepted = 0;
  for (uint32_t index = 0; index <= kLastIndex; ++index) {
    std::string subkey;
    status = source.registry->EnumKey(kNetTransKey, index, &subkey);
    if (status == platform::kRegNoMoreItems) break;
    if (status != platform::kRegSuccess) continue;
    std::string key = std::string(kNetTransKey) + "\\" + subkey;
    if (source.registry->OpenKey(key) != platform::kRegSuccess) continue;
    char text[kAddressBufferSize] = {};
    uint32_t size = kAddressBufferSize;
    if (source.registry->QueryValue(key, "IPAddress", nullptr, text, &size) != platform::kRegSuccess) continue;
    // The stored text need not end in a zero: parse only the bytes that were read.
    std::string address_text(text, size);
    if (size_t zero = address_text.find('\0'); zero != std::string::npos) address_text.resize(zero);
    uint32_t address = platform::ParseDottedAddress(address_text);
    if (address == platform::kInaddrNone) continue;
    if (accepted < kMaxAdapters) {
      AddAdapter(rows, kUnknownAdapterName, address);
      Trace("SNTP-Init: Gerät [%s (%s)] gefunden.\n", kUnknownAdapterName, platform::DottedAddress(address).c_str());
      ++accepted;
    } else {
      ReportMessage(msg::kTooManyAdapters, {kUnknownAdapterName, int64_t{kMaxAdapters}});
    }
  }
  return true;
}

}  // namespace chron
