// The program's own message table, formatted by the system (FormatMessage on the message-table
// resource). Windows programs carry the catalogue as that resource; elsewhere, and in programs
// built without it (unit tests), the caller formats the catalogue text itself.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace chron::platform {

// One insertion argument: a text (%1) or a 32-bit integer (%1!d!).
struct MessageInsertion {
  bool is_number = false;
  int64_t number = 0;
  std::string text;  // UTF-8
};

// When the program carries a message table: formats entry `id` (language neutral, the stored
// line break kept, UTF-8) with `insertions`, sets *status to 0 or the system's error code
// (317 for an id the table lacks) and returns true. Returns false when there is no message
// table to format from.
bool FormatFromMessageTable(uint32_t id, std::span<const MessageInsertion> insertions, std::string* text, int* status);

}  // namespace chron::platform
