// Properties of an adapter table that every discovery walk must leave, whatever it read.
#pragma once

#include "engine/runtime.h"
#include "service/adapters.h"
#include "tests/fuzz/fuzz_support.h"

namespace chron::fuzz {

// Rows in use from the first without a gap, at most 64, each with an IPv4 address and a name
// that fits the 80-byte name field. Returns the number of rows.
inline int CheckAdapterTable(const AdapterTable& table) {
  int rows = 0;
  bool gap = false;
  for (const AdapterEntry& entry : table) {
    if (!entry.in_use) {
      gap = true;
      continue;
    }
    FUZZ_CHECK(!gap);
    FUZZ_CHECK(entry.address.family == platform::kAfInet);
    FUZZ_CHECK(entry.name.size() < static_cast<size_t>(kAdapterNameSize));
    ++rows;
  }
  FUZZ_CHECK(rows == CountAdapters(table));
  return rows;
}

}  // namespace chron::fuzz
