// Helpers of the adapter discovery and start-up tests: expected report lines, registry values
// as raw bytes, and the rows of an adapter table in a comparable form.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "engine/runtime.h"
#include "messages/report.h"
#include "platform/network.h"
#include "platform/registry.h"

namespace chron::testing {

// A catalogue report as the console shows it: the formatted text and a line break.
template <InsertionKind... kinds>
std::string ReportLine(Message<kinds...> message, typename Message<kinds...>::Args args = {}) {
  std::string text;
  EXPECT_TRUE(FormatCatalogueMessage(message, std::move(args), &text))
      << "catalogue entry 0x" << std::hex << message.id;
  return text + "\n";
}

// REG_MULTI_SZ bytes: each text with its zero, then the zero that ends the list.
inline std::string MultiSz(std::initializer_list<std::string_view> texts) {
  std::string bytes;
  for (std::string_view text : texts) {
    bytes.append(text);
    bytes.push_back('\0');
  }
  bytes.push_back('\0');
  return bytes;
}

// Stores `bytes` exactly as given (no zero added).
inline void SetRaw(platform::Registry& registry, std::string_view key, std::string_view name, platform::RegType type,
                   std::string_view bytes) {
  ASSERT_EQ(registry.SetValue(key, name, type, bytes.data(), static_cast<uint32_t>(bytes.size())),
            platform::kRegSuccess);
}

// Stores a REG_SZ text with its terminating zero.
inline void SetText(platform::Registry& registry, std::string_view key, std::string_view name, std::string_view text) {
  std::string bytes(text);
  bytes.push_back('\0');
  SetRaw(registry, key, name, platform::RegType::kSz, bytes);
}

// The rows in use, in table order, as "name (dotted address)"; also checks that they are
// filled from the first row without gaps and carry family AF_INET.
inline std::vector<std::string> Rows(const AdapterTable& table) {
  std::vector<std::string> rows;
  bool gap = false;
  for (const AdapterEntry& entry : table) {
    if (!entry.in_use) {
      gap = true;
      continue;
    }
    EXPECT_FALSE(gap) << "row after an unused row: " << entry.name;
    EXPECT_EQ(entry.address.family, platform::kAfInet);
    rows.push_back(entry.name + " (" + platform::DottedAddress(entry.address.address) + ")");
  }
  return rows;
}

// "a.b.c.d" of the i-th address counted from `first` (host order arithmetic).
inline std::string NthAddress(std::string_view first, uint32_t i) {
  const uint32_t host = platform::NetworkToHost32(platform::ParseDottedAddress(first)) + i;
  return platform::DottedAddress(platform::HostToNetwork32(host));
}

}  // namespace chron::testing
