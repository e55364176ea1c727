// Win32: the IP address table walked through the SNMP extension agent inetmib1.dll, and the same
// table read from GetAdaptersAddresses where the agent cannot be loaded.
#include "platform/win32/snmp_table.h"

#include <snmp.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "platform/adapter_list.h"

namespace chron::platform::win32 {
namespace {

// ipAddrEntry (1.3.6.1.2.1.4.20.1) and the columns read here.
constexpr UINT kEntry[] = {1, 3, 6, 1, 2, 1, 4, 20, 1};
constexpr UINT kColumnAddress = 1;
constexpr UINT kColumnIfIndex = 2;
constexpr UINT kColumnNetMask = 3;

uint32_t RowIndex(const AsnObjectIdentifier& name) {
  uint8_t bytes[4];  // network byte order
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(name.ids[name.idLength - 4 + i]);
  uint32_t address = 0;
  std::memcpy(&address, bytes, 4);
  return address;
}

// Get-next from the column's own identifier until the answer leaves the column: (row index, the
// 4 bytes of an IpAddress value) per row; integer values go to *integers in the same order.
std::vector<std::pair<uint32_t, std::vector<uint8_t>>> WalkColumn(PFNSNMPEXTENSIONQUERY query, UINT column,
                                                                  std::vector<int32_t>* integers) {
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> rows;
  UINT ids[10];
  std::memcpy(ids, kEntry, sizeof kEntry);
  ids[9] = column;
  AsnObjectIdentifier start{10, ids};
  SnmpVarBind binding{};
  SnmpUtilOidCpy(&binding.name, &start);
  binding.value.asnType = ASN_NULL;
  SnmpVarBindList list{&binding, 1};
  for (int guard = 0; guard < 4096; ++guard) {
    AsnInteger32 status = 0;
    AsnInteger32 index = 0;
    if (!query(SNMP_PDU_GETNEXT, &list, &status, &index) || status != SNMP_ERRORSTATUS_NOERROR) break;
    const AsnObjectIdentifier& name = binding.name;
    if (name.idLength != 14 || !std::equal(ids, ids + 10, name.ids)) break;  // left the column
    const uint32_t row = RowIndex(name);
    if (binding.value.asnType == ASN_IPADDRESS && binding.value.asnValue.address.length == 4) {
      const BYTE* stream = binding.value.asnValue.address.stream;
      rows.emplace_back(row, std::vector<uint8_t>(stream, stream + 4));
    } else if (binding.value.asnType == ASN_INTEGER32 && integers != nullptr) {
      rows.emplace_back(row, std::vector<uint8_t>{});
      integers->push_back(binding.value.asnValue.number);
    }
  }
  SnmpUtilVarBindFree(&binding);
  return rows;
}

}  // namespace

int SnmpIpAddressTable(std::vector<InterfaceAddress>* result) {
  std::vector<InterfaceAddress>& table = *result;
  table.clear();
  HMODULE agent = LoadLibraryW(L"inetmib1.dll");
  if (agent == nullptr) return static_cast<int>(GetLastError());
  auto init = ProcAddress<PFNSNMPEXTENSIONINIT>(agent, "SnmpExtensionInit");
  auto query = ProcAddress<PFNSNMPEXTENSIONQUERY>(agent, "SnmpExtensionQuery");
  int error = 0;
  if (init == nullptr || query == nullptr) {
    error = static_cast<int>(GetLastError());
    if (error == 0) error = ERROR_PROC_NOT_FOUND;
  } else {
    HANDLE trap_event = nullptr;
    AsnObjectIdentifier view{};
    init(GetTickCount(), &trap_event, &view);
    std::vector<int32_t> if_indexes;
    const auto addresses = WalkColumn(query, kColumnAddress, nullptr);
    const auto indexes = WalkColumn(query, kColumnIfIndex, &if_indexes);
    const auto masks = WalkColumn(query, kColumnNetMask, nullptr);
    std::map<uint32_t, uint32_t> if_index_of;
    for (size_t i = 0; i < indexes.size() && i < if_indexes.size(); ++i) {
      if_index_of[indexes[i].first] = static_cast<uint32_t>(if_indexes[i]);
    }
    std::map<uint32_t, uint32_t> mask_of;
    for (const auto& [row, bytes] : masks) std::memcpy(&mask_of[row], bytes.data(), 4);
    for (const auto& [row, bytes] : addresses) {
      InterfaceAddress entry;
      std::memcpy(&entry.address, bytes.data(), 4);
      entry.interface_index = if_index_of.count(row) != 0 ? if_index_of[row] : 0;
      const uint32_t mask = mask_of.count(row) != 0 ? mask_of[row] : 0;
      entry.broadcast = mask != 0 && mask != 0xFFFFFFFFu ? (entry.address | ~mask) : 0;
      entry.interface = "ifIndex " + std::to_string(entry.interface_index);
      table.push_back(std::move(entry));
    }
  }
  FreeLibrary(agent);
  return error;
}

bool ForEachUnicastAddress(
    ULONG family, const std::function<void(const IP_ADAPTER_ADDRESSES&, const IP_ADAPTER_UNICAST_ADDRESS&)>& visit) {
  ULONG size = 16384;
  std::vector<uint8_t> buffer;
  ULONG status = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the call that sizes it and the next: a few tries.
  for (int attempt = 0; attempt < 3 && status == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size, 0);
    status = GetAdaptersAddresses(family, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                  nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (status != NO_ERROR) return false;
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
       adapter = adapter->Next) {
    for (IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
      const sockaddr* address = unicast->Address.lpSockaddr;
      if (address != nullptr && address->sa_family == family) visit(*adapter, *unicast);
    }
  }
  return true;
}

std::string AdapterDisplayName(const IP_ADAPTER_ADDRESSES& adapter) {
  const std::string name = adapter.FriendlyName != nullptr ? Narrow(adapter.FriendlyName) : "";
  return name.empty() ? std::string(adapter.AdapterName) : name;
}

std::vector<InterfaceAddress> AdapterListIpAddressTable() {
  std::vector<AdapterListAddress> rows;
  const bool read = ForEachUnicastAddress(
      AF_INET, [&rows](const IP_ADAPTER_ADDRESSES& adapter, const IP_ADAPTER_UNICAST_ADDRESS& unicast) {
        sockaddr_in v4;
        std::memcpy(&v4, unicast.Address.lpSockaddr, sizeof v4);
        AdapterListAddress row;
        row.address = v4.sin_addr.s_addr;
        row.prefix_length = unicast.OnLinkPrefixLength;
        row.interface_index = adapter.IfIndex;
        row.interface = AdapterDisplayName(adapter);
        row.interface_up = adapter.OperStatus == IfOperStatusUp;
        // IP_DAD_STATE counts from IpDadStateInvalid (0) to IpDadStatePreferred (4), as DadState does.
        row.state = unicast.DadState >= IpDadStateInvalid && unicast.DadState <= IpDadStatePreferred
                        ? static_cast<DadState>(unicast.DadState)
                        : DadState::kInvalid;
        rows.push_back(std::move(row));
      });
  if (!read) return {};
  return InterfaceTableFromAdapterList(rows);
}

}  // namespace chron::platform::win32
