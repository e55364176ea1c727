// The SNMP extension agent of snmp.h: ipAddrTable over an interface address source.
#include "platform/snmp.h"

#include <algorithm>
#include <cstring>

namespace chron::platform {

SnmpAgent::SnmpAgent(AddressSource source) : source_(std::move(source)) {}

bool SnmpAgent::Init(uint32_t time_zero) {
  if (!loaded()) return false;
  time_zero_ = time_zero;
  objects_ = Objects();
  return true;
}

// Rows are indexed by their address (four sub-identifiers a.b.c.d), so ascending index order
// is ascending address order; an address on two interfaces is one row, the first found.
std::vector<SnmpAgent::Object> SnmpAgent::Objects() const {
  std::vector<InterfaceAddress> rows = source_();
  auto host_order = [](const InterfaceAddress& row) { return NetworkToHost32(row.address); };
  std::stable_sort(rows.begin(), rows.end(),
                   [&](const auto& a, const auto& b) { return host_order(a) < host_order(b); });
  rows.erase(std::unique(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.address == b.address; }),
             rows.end());

  std::vector<Object> objects;
  for (const ObjectIdentifier& column : {kIpAdEntAddr, kIpAdEntIfIndex}) {
    for (const InterfaceAddress& row : rows) {
      Object object;
      object.name = column;
      uint8_t bytes[4];  // network byte order
      std::memcpy(bytes, &row.address, sizeof bytes);
      object.name.insert(object.name.end(), bytes, bytes + 4);
      if (column == kIpAdEntAddr) {
        object.value.type = kSnmpIpAddress;
        object.value.bytes.assign(bytes, bytes + 4);
      } else {
        object.value.type = kSnmpInteger;
        object.value.integer = static_cast<int32_t>(row.interface_index);
      }
      objects.push_back(std::move(object));
    }
  }
  return objects;
}

bool SnmpAgent::Query(uint8_t request_type, VarBindList* list, int32_t* error_status, int32_t* error_index) {
  *error_status = kSnmpNoError;
  *error_index = 0;
  if (!loaded()) return false;
  if (request_type != kSnmpGet && request_type != kSnmpGetNext) {
    *error_status = kSnmpGenErr;
    return false;
  }
  if (!objects_) objects_ = Objects();
  const std::vector<Object>& objects = *objects_;
  for (size_t i = 0; i < list->size(); ++i) {
    VarBind& binding = (*list)[i];
    auto found = objects.end();
    if (request_type == kSnmpGetNext) {
      // Object identifiers order lexicographically by sub-identifier, as vectors do.
      found = std::upper_bound(objects.begin(), objects.end(), binding.name,
                               [](const ObjectIdentifier& name, const Object& o) { return name < o.name; });
    } else {
      found = std::find_if(objects.begin(), objects.end(), [&](const Object& o) { return o.name == binding.name; });
    }
    if (found == objects.end()) {
      *error_status = kSnmpNoSuchName;
      *error_index = static_cast<int32_t>(i + 1);
      return false;
    }
    binding.name = found->name;
    binding.value = found->value;
  }
  return true;
}

std::unique_ptr<SnmpAgent> CreateSystemSnmpAgent() {
  return std::make_unique<SnmpAgent>([] { return SystemNetwork().InterfaceAddresses(); });
}

std::unique_ptr<SnmpAgent> CreateMissingSnmpAgent() { return std::make_unique<SnmpAgent>(SnmpAgent::AddressSource{}); }

}  // namespace chron::platform
