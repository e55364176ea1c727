// Linux programs carry no message-table resource: the catalogue is formatted by the caller.
#include "platform/message_table.h"

namespace chron::platform {

bool FormatFromMessageTable(uint32_t, std::span<const MessageInsertion>, std::string*, int*) { return false; }

}  // namespace chron::platform
