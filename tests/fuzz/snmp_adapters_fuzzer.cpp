// Adapter discovery through SNMP over any agent data: the get-next walk of ipAdEntAddr against
// a fake agent whose every answer (result, bindings, object names, value types and bytes) comes
// from the input, and the whole discovery against the real agent over any interface table of
// the fake network.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <set>
#include <vector>

#include "platform/snmp.h"
#include "service/adapters.h"
#include "tests/fuzz/adapter_checks.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/testutil/fake_network.h"

namespace {

namespace platform = chron::platform;

constexpr size_t kMaxAnswers = 100;  // past the walk's 64 addresses
constexpr size_t kMaxSubIdentifiers = 16;
constexpr size_t kMaxValueBytes = 8;
constexpr size_t kMaxInterfaceRows = 100;
constexpr uint32_t kLoopback = 0x7F000001;  // host byte order

enum Name : uint8_t { kNoBinding, kColumnRow, kColumnPrefix, kAnyName, kLastName = kAnyName };

// One answer of the fake agent: the binding list as the input has it.
bool Answer(FuzzedDataProvider& input, platform::VarBindList* list, int32_t* status, int32_t* index) {
  FUZZ_CHECK(list != nullptr && !list->empty());
  const bool result = input.ConsumeBool();
  *status = input.ConsumeIntegralInRange<int32_t>(0, 5);
  *index = input.ConsumeIntegralInRange<int32_t>(0, 2);
  platform::ObjectIdentifier name;
  switch (input.ConsumeIntegralInRange<uint8_t>(0, kLastName)) {
    case kNoBinding: list->clear(); return result;
    case kColumnRow:
      name = platform::kIpAdEntAddr;
      for (int i = 0; i < 4; ++i) name.push_back(input.ConsumeIntegral<uint8_t>());
      break;
    case kColumnPrefix:
      name.assign(platform::kIpAdEntAddr.begin(),
                  platform::kIpAdEntAddr.begin() + input.ConsumeIntegralInRange<long>(0, 10));
      [[fallthrough]];
    case kAnyName:
      for (size_t i = input.ConsumeIntegralInRange<size_t>(0, kMaxSubIdentifiers); i > 0; --i)
        name.push_back(input.ConsumeIntegral<uint32_t>());
      break;
  }
  list->resize(input.ConsumeIntegralInRange<size_t>(1, 2));
  (*list)[0].name = std::move(name);
  (*list)[0].value.type = input.ConsumeIntegral<uint8_t>();
  (*list)[0].value.integer = input.ConsumeIntegral<int32_t>();
  (*list)[0].value.bytes = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange<size_t>(0, kMaxValueBytes));
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  chron::fuzz::CheckedReports reports(input.ConsumeBool());

  // The walk against the fake agent; an exhausted input is an agent that fails.
  size_t answers = 0;
  const chron::SnmpQuery fake_agent = [&](uint8_t type, platform::VarBindList* list, int32_t* status, int32_t* index) {
    FUZZ_CHECK(type == platform::kSnmpGetNext);
    if (answers++ == kMaxAnswers || input.remaining_bytes() == 0) return false;
    return Answer(input, list, status, index);
  };
  FUZZ_CHECK(chron::WalkIpAddressColumn(fake_agent).size() <= static_cast<size_t>(chron::kMaxAdapters));

  // The whole discovery against the agent over the fake network's interface table.
  std::vector<platform::InterfaceAddress> rows(input.ConsumeIntegralInRange<size_t>(0, kMaxInterfaceRows));
  std::set<uint32_t> distinct;  // host byte order
  for (platform::InterfaceAddress& row : rows) {
    // Mostly a few addresses of one network, so that repeats and order matter.
    row.address = input.ConsumeBool() ? platform::HostToNetwork32(0x0A000000 | input.ConsumeIntegral<uint8_t>())
                                      : input.ConsumeIntegral<uint32_t>();
    row.interface_index = input.ConsumeIntegral<uint32_t>();
    distinct.insert(platform::NetworkToHost32(row.address));
  }
  chron::testing::FakeNetwork network;
  network.SetInterfaceAddresses(rows);
  chron::Configuration config;
  chron::AdapterTable table;
  FUZZ_CHECK(chron::DiscoverAdaptersBySnmp({config, network, nullptr}, table));
  const int found = chron::fuzz::CheckAdapterTable(table);

  // Each address once, in ascending order, without 127.0.0.1; all of them while they fit.
  uint32_t previous = 0;
  bool first = true;
  for (int i = 0; i < found; ++i) {
    const chron::AdapterEntry& entry = table[static_cast<size_t>(i)];
    const uint32_t address = platform::NetworkToHost32(entry.address.address);
    FUZZ_CHECK(entry.name == chron::kUnknownAdapterName);
    FUZZ_CHECK(address != kLoopback && distinct.count(address) == 1);
    FUZZ_CHECK(first || address > previous);
    previous = address;
    first = false;
  }
  if (distinct.size() <= static_cast<size_t>(chron::kMaxAdapters)) {
    FUZZ_CHECK(static_cast<size_t>(found) == distinct.size() - distinct.count(kLoopback));
  }
  return 0;
}
