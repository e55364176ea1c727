// An in-process SNMP extension agent in the shape adapter discovery expects: an init call and a
// query call over a list of variable bindings. It serves the MIB-II IP address table
// (ipAddrTable, 1.3.6.1.2.1.4.20) from the system's interface address table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/network.h"

namespace chron::platform {

// PDU types of a query.
inline constexpr uint8_t kSnmpGet = 0xA0;
inline constexpr uint8_t kSnmpGetNext = 0xA1;

// Value types (ASN.1 / SMI tags).
inline constexpr uint8_t kSnmpInteger = 0x02;
inline constexpr uint8_t kSnmpNull = 0x05;
inline constexpr uint8_t kSnmpIpAddress = 0x40;

// SNMPv1 error status values of a query.
inline constexpr int32_t kSnmpNoError = 0;
inline constexpr int32_t kSnmpNoSuchName = 2;
inline constexpr int32_t kSnmpGenErr = 5;

using ObjectIdentifier = std::vector<uint32_t>;

struct SnmpValue {
  uint8_t type = kSnmpNull;
  std::vector<uint8_t> bytes;  // kSnmpIpAddress: 4 bytes in network byte order
  int32_t integer = 0;         // kSnmpInteger
};

struct VarBind {
  ObjectIdentifier name;
  SnmpValue value;
};
using VarBindList = std::vector<VarBind>;

// ipAddrTable entry and its columns served here: ipAdEntAddr (1) and ipAdEntIfIndex (2).
inline const ObjectIdentifier kIpAddrEntry = {1, 3, 6, 1, 2, 1, 4, 20, 1};
inline const ObjectIdentifier kIpAdEntAddr = {1, 3, 6, 1, 2, 1, 4, 20, 1, 1};
inline const ObjectIdentifier kIpAdEntIfIndex = {1, 3, 6, 1, 2, 1, 4, 20, 1, 2};

class SnmpAgent {
 public:
  using AddressSource = std::function<std::vector<InterfaceAddress>()>;

  // An agent over `source`; an empty source is an agent whose library could not be loaded:
  // Init and Query then return false.
  explicit SnmpAgent(AddressSource source);

  bool loaded() const { return static_cast<bool>(source_); }
  uint32_t time_zero() const { return time_zero_; }  // as given to Init

  // `time_zero`: the caller's tick count (milliseconds) as the agent's time reference. Reads the
  // address source once: the queries that follow (one walk) answer from that reading.
  bool Init(uint32_t time_zero);

  // Get (kSnmpGet) or get-next (kSnmpGetNext) on each binding of `list`, in order. Get-next
  // replaces a binding's name and value with the next object after its name: the rows of
  // ipAdEntAddr in ascending address order, then those of ipAdEntIfIndex. A binding with no
  // object after it (or no such object, for get) ends the query with noSuchName and its
  // 1-based position, and the query returns false, so that a walker ends there even without
  // looking at the error status. Other request types: genErr, false.
  bool Query(uint8_t request_type, VarBindList* list, int32_t* error_status, int32_t* error_index);

 private:
  struct Object {
    ObjectIdentifier name;
    SnmpValue value;
  };
  std::vector<Object> Objects() const;  // the served objects in ascending name order

  AddressSource source_;
  uint32_t time_zero_ = 0;
  std::optional<std::vector<Object>> objects_;  // read by Init, or by the first query without one
};

// The agent over SystemNetwork().InterfaceAddresses().
std::unique_ptr<SnmpAgent> CreateSystemSnmpAgent();
// An agent that failed to load, for tests of discovery without one.
std::unique_ptr<SnmpAgent> CreateMissingSnmpAgent();
// How discovery obtains its agent; tests substitute one over their own addresses.
using SnmpAgentFactory = std::function<std::unique_ptr<SnmpAgent>()>;

}  // namespace chron::platform
