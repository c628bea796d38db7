#pragma once

#include <cstdint>

#include "ktutils/ktutils.h"
#include "ktutils/protocol/message_description.h"

namespace ktutils::tool {

// One received message as the library describes it, and where it starts.
struct DecodedMessage : MessageDescription {
    uint64_t offset = 0;  // of the header, in the stream it came from
};

// Describes the current message of `buffer` (NextMsg returned true),
// consuming its payload.
DecodedMessage DecodeCurrentMessage(NQMessageBuffer& buffer);

// True for the five connect requests (21, 22, 27, 28, 29).
bool IsConnectRequest(uint16_t type);

}  // namespace ktutils::tool
