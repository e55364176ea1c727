// Adapter discovery through the SNMP agent: a get-next walk of the MIB-II column ipAdEntAddr
// (1.3.6.1.2.1.4.20.1.1). The agent answers in ascending address order; 127.0.0.1 is no LAN
// adapter and is dropped. Rows found this way have no name: "<unbekannt>".
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "messages/report.h"
#include "platform/snmp.h"
#include "service/adapters.h"

namespace chron {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

std::vector<uint32_t> WalkIpAddressColumn(const SnmpQuery& query) {
  std::vector<uint32_t> addresses;
  platform::VarBindList list(1);
  list[0].name = platform::kIpAdEntAddr;
  list[0].value = platform::SnmpValue{};
  const size_t column_length = platform::kIpAdEntAddr.size();
  while (addresses.size() < kMaxWalkedAddresses) {
    int32_t error_status = 0;
    int32_t error_index = 0;
    const platform::ObjectIdentifier asked = list[0].name;
    if (!query(platform::kSnmpGetNext, &list, &error_status, &error_index)) break;
    if (list.empty()) break;
    const platform::ObjectIdentifier& name = list[0].name;
    // A get-next answer lies after the name asked for; one that does not would repeat forever.
    if (!std::lexicographical_compare(asked.begin(), asked.end(), name.begin(), name.end())) break;
    size_t compare = std::min(column_length, name.size());
    if (!std::equal(name.begin(), name.begin() + static_cast<long>(compare), platform::kIpAdEntAddr.begin())) {
      break;  // the walk has left the column
    }
    const std::vector<uint8_t>& bytes = list[0].value.bytes;
    if (bytes.size() < 4) break;  // not an IpAddress: nothing sound to read
    uint32_t address = 0;
    std::memcpy(&address, bytes.data(), 4);  // network byte order, as the agent gives it
    addresses.push_back(address);
  }
  return addresses;
}

bool DiscoverAdaptersBySnmp(const DiscoverySource& source, AdapterTable& rows) {
  platform::SnmpAgent agent([&source] { return source.network.InterfaceAddresses(); });
  agent.Init(TickCount());
  ClearAdapterTable(rows);
  const SnmpQuery query = [&agent](uint8_t type, platform::VarBindList* list, int32_t* status, int32_t* index) {
    return agent.Query(type, list, status, index);
  };
  const std::vector<uint32_t> addresses = WalkIpAddressColumn(query);
  // Without its SNMP agent the system gave the table from its adapter list: told once.
  if (const std::error_code failure = source.network.TakeSnmpAgentFailure()) {
    ReportMessage(msg::kSnmpAgentMissing, {int64_t{failure.value()}});
  }
  // Loopback is dropped before it takes a row; each address beyond the 64 rows is reported.
  for (uint32_t address : addresses) {
    if (platform::NetworkToHost32(address) == kLoopback) continue;
    if (!AddAdapter(rows, kUnknownAdapterName, address)) {
      ReportMessage(msg::kTooManyAdapters, {std::string(kUnknownAdapterName), int64_t{kMaxAdapters}});
    }
  }
  return true;
}

}  // namespace chron
