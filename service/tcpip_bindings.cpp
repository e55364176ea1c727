// Adapter discovery from the Windows NT TCP/IP bindings kept in the machine registry:
//   SYSTEM\CurrentControlSet\Services\Tcpip\Linkage        "Bind" (multi-string)
//   SYSTEM\CurrentControlSet\Services\<name>\Parameters\TCPIP  "IpAddress" (multi-string)
// Each Bind element is an eight-character device-directory prefix ("\Device\") followed by
// the adapter's service name. On Linux these keys exist where an administrator writes them,
// which pins the addresses the service binds.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "messages/report.h"
#include "service/adapters.h"

namespace chron {
namespace {

constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr uint32_t kBindBufferSize = 1000;
constexpr uint32_t kIpAddressBufferSize = 10000;
constexpr size_t kDevicePrefixLength = 8;
constexpr size_t kLongestElement = 256;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Splits multi-string data into its texts, within `size` bytes; a missing final zero ends
// the last text at the end of the data.
std::vector<std::string> SplitMultiString(const char* data, size_t size) {
  std::vector<std::string> texts;
  size_t pos = 0;
  while (pos < size && data[pos] != '\0') {
    size_t end = pos;
    while (end < size && data[end] != '\0') ++end;
    texts.emplace_back(data + pos, end - pos);
    pos = end + 1;
  }
  return texts;
}

// Adds every address of one adapter; false when its IpAddress value could not be read.
bool AddAdapterAddresses(const DiscoverySource& source, AdapterTable& rows, const std::string& name,
                         const std::string& key) {
  std::vector<char> buffer(kIpAddressBufferSize);
  uint32_t size = kIpAddressBufferSize;
  platform::RegStatus status = source.registry->QueryValue(key, "IpAddress", nullptr, buffer.data(), &size);
  if (status != platform::kRegSuccess) {
    ReportMessage(msg::kRegistryError, {"RegQueryValueEx", "IpAddress", static_cast<int64_t>(status)});
    return false;
  }
  for (const std::string& text : SplitMultiString(buffer.data(), std::min<size_t>(size, buffer.size()))) {
    uint32_t address = platform::ParseDottedAddress(text);
    if (address == platform::kInaddrNone) continue;
    if (CountAdapters(rows) >= kMaxAdapters) {
      ReportMessage(msg::kTooManyAdapters, {name, int64_t{kMaxAdapters}});
      continue;
    }
    AddAdapter(rows, name, address);
    Trace("SNTP-Init: Gerät [%s (%s)] gefunden.\n", name.c_str(), platform::DottedAddress(address).c_str());
  }
  return true;
}

}  // namespace

bool DiscoverAdaptersFromNtRegistry(const DiscoverySource& source, AdapterTable& rows) {
  ClearAdapterTable(rows);
  std::string linkage = std::string(kServicesKey) + "TCPIP\\Linkage";
  platform::RegStatus status = source.registry->OpenKey(linkage);
  if (status != platform::kRegSuccess) {
    ReportMessage(msg::kRegistryError, {"RegKeyOpenEx()", linkage, static_cast<int64_t>(status)});
    return false;
  }
  std::vector<char> bind(kBindBufferSize);
  uint32_t size = kBindBufferSize;
  status = source.registry->QueryValue(linkage, "Bind", nullptr, bind.data(), &size);
  if (status != platform::kRegSuccess) {
    ReportMessage(msg::kRegistryError, {"RegQueryValueEx()", linkage + "\\Bind", static_cast<int64_t>(status)});
    return false;
  }
  // Every position below stays inside the `length` bytes that were read, and the prefix is
  // skipped only where it lies within its own element: an element shorter than its prefix (a
  // damaged value, or the empty text that ends the list) ends the walk instead of running on
  // into the next element or beyond the data; a missing final zero ends at the data's end.
  const size_t length = std::min<size_t>(size, bind.size());
  size_t element = 0;
  while (element + kDevicePrefixLength < length) {
    const auto prefix = bind.begin() + static_cast<long>(element);
    if (std::find(prefix, prefix + kDevicePrefixLength, '\0') != prefix + kDevicePrefixLength) return true;
    size_t rest = element + kDevicePrefixLength;
    size_t rest_end = rest;
    while (rest_end < length && bind[rest_end] != '\0') ++rest_end;
    if (rest_end - rest >= kLongestElement) return true;
    size_t word = rest;
    while (word < rest_end && IsBlank(bind[word])) ++word;
    size_t word_end = word;
    while (word_end < rest_end && !IsBlank(bind[word_end])) ++word_end;
    if (word == word_end) return true;
    std::string name(bind.data() + word, word_end - word);
    element = word_end + 1;

    Trace("SNTP-Init: Teste Gerät [%s]...\n", name.c_str());
    if (name.size() >= 7) {
      // The comparison upper-cases the name for good: it is stored and shown that way.
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      if (name.compare(0, 7, "NDISWAN") == 0) {
        Trace("SNTP-Init: Gerät [%s] wird ignoriert, da kein LAN Adapter.\n", name.c_str());
        continue;
      }
    }
    std::string key = std::string(kServicesKey) + name + "\\Parameters\\TCPIP";
    if (source.registry->OpenKey(key) != platform::kRegSuccess) {
      Trace("SNTP-Init: Gerät [%s] wird ignoriert, weil es keine Netzwerkkarte ist.\n", name.c_str());
      continue;
    }
    if (!AddAdapterAddresses(source, rows, name, key)) return false;
  }
  return true;
}

}  // namespace chron
