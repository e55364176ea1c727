#include "messages/catalogue.h"

#include <algorithm>
#include <iterator>

namespace chron {
namespace {

// Every stored text ends in CR LF; a %0 in the text stops formatting before it.
constexpr CatalogueEntry kCatalogue[] = {
#define CHRON_MESSAGE(id, text, insertions) {id, text "\r\n", insertions},
#include "messages/catalogue_table.inc"
#undef CHRON_MESSAGE
};

constexpr bool SortedById() {
  for (size_t i = 1; i < std::size(kCatalogue); ++i) {
    if (kCatalogue[i - 1].id >= kCatalogue[i].id) return false;
  }
  return true;
}
static_assert(SortedById(), "catalogue.txt must be sorted by identifier, without duplicates");

}  // namespace

std::span<const CatalogueEntry> Catalogue() { return kCatalogue; }

const CatalogueEntry* FindCatalogueEntry(uint32_t id) {
  auto it = std::lower_bound(std::begin(kCatalogue), std::end(kCatalogue), id,
                             [](const CatalogueEntry& entry, uint32_t key) { return entry.id < key; });
  if (it == std::end(kCatalogue) || it->id != id) return nullptr;
  return &*it;
}

}  // namespace chron
