// The message catalogue: every report text of the services, by identifier (generated from
// messages/catalogue.txt).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace chron {

// The two top bits of a message identifier.
enum class Severity { kSuccess = 0, kInformational = 1, kWarning = 2, kError = 3 };

constexpr Severity SeverityOf(uint32_t id) { return static_cast<Severity>(id >> 30); }

struct CatalogueEntry {
  uint32_t id;
  std::string_view text;        // as stored: UTF-8, insertion escapes unexpanded, ending in CR LF
  std::string_view insertions;  // the kind of each insertion %1..%n: 't' text, 'n' number
};

// All entries, sorted by identifier.
std::span<const CatalogueEntry> Catalogue();

// The entry with identifier `id`, or nullptr.
const CatalogueEntry* FindCatalogueEntry(uint32_t id);

}  // namespace chron
