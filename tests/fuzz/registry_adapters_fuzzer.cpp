// Adapter discovery from the registry over any registry content: the Windows NT bindings
// (Tcpip\Linkage\Bind and each adapter's IpAddress) and chron95's Windows 95 network classes
// (an IPAddress per NetTrans subkey), values of any type, size and bytes, in the fake registry.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <string>

#include "service/adapters.h"
#include "tests/fuzz/adapter_checks.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/testutil/fake_network.h"
#include "tests/testutil/fake_registry.h"
#include "win95/nettrans_class.h"

namespace {

using chron::platform::RegType;

constexpr char kServices[] = "SYSTEM\\CurrentControlSet\\Services\\";
constexpr char kLinkage[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Linkage";
constexpr char kNetTrans[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans\\";
constexpr size_t kMaxRecords = 600;  // more than the 64 rows and the 512 NetTrans indexes
constexpr size_t kMaxName = 300;     // past the 256 bytes of one Bind element
constexpr size_t kMaxValue = 12000;  // past the 1000- and 10000-byte read buffers
constexpr uint32_t kLastType = 11;   // REG_QWORD; anything from REG_NONE on

enum Record : uint8_t { kBind, kAdapterAddresses, kNetTransAddress, kKeyOnly, kLastRecord = kKeyOnly };

// Every row comes from a dotted address that inet_addr took ("255.255.255.255" it does not).
void CheckAddresses(const chron::AdapterTable& table) {
  chron::fuzz::CheckAdapterTable(table);
  for (const chron::AdapterEntry& entry : table) {
    if (entry.in_use) FUZZ_CHECK(entry.address.address != chron::platform::kInaddrNone);
  }
}

bool StartsWithNdisWan(const std::string& name) {
  static const std::string kDialUp = "NDISWAN";
  if (name.size() < kDialUp.size()) return false;
  for (size_t i = 0; i < kDialUp.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != kDialUp[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  chron::fuzz::CheckedReports reports(input.ConsumeBool());
  chron::testing::RecordingRegistry registry;
  for (size_t i = 0; i < kMaxRecords && input.remaining_bytes() > 0; ++i) {
    const auto record = input.ConsumeIntegralInRange<uint8_t>(0, kLastRecord);
    const auto type = static_cast<RegType>(input.ConsumeIntegralInRange<uint32_t>(0, kLastType));
    const std::string name = input.ConsumeRandomLengthString(kMaxName);
    const std::string value = input.ConsumeRandomLengthString(kMaxValue);
    const auto value_size = static_cast<uint32_t>(value.size());
    const std::string adapter_key = kServices + name + "\\Parameters\\TCPIP";
    switch (record) {
      case kBind: registry.SetValue(kLinkage, "Bind", type, value.data(), value_size); break;
      case kAdapterAddresses: registry.SetValue(adapter_key, "IpAddress", type, value.data(), value_size); break;
      case kNetTransAddress: registry.SetValue(kNetTrans + name, "IPAddress", type, value.data(), value_size); break;
      case kKeyOnly:
        registry.CreateKey(adapter_key);
        registry.CreateKey(kNetTrans + name);
        break;
    }
  }

  chron::Configuration config;
  chron::testing::FakeNetwork network;  // the registry methods do not use it
  const chron::DiscoverySource source{config, network, &registry};
  chron::AdapterTable table;
  chron::DiscoverAdaptersFromNtRegistry(source, table);
  CheckAddresses(table);
  for (const chron::AdapterEntry& entry : table) {
    if (entry.in_use) FUZZ_CHECK(!StartsWithNdisWan(entry.name));  // dial-up adapters are skipped
  }

  chron::DiscoverAdaptersFromWin95Registry(source, table);
  CheckAddresses(table);
  for (const chron::AdapterEntry& entry : table) {
    if (entry.in_use) FUZZ_CHECK(entry.name == chron::kUnknownAdapterName);
  }
  return 0;
}
