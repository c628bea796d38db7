#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/payload_codecs.h"

// The fixed arguments behind the golden bytes (tests/golden/messages.hex), also the thread test's.
namespace fixture {

using ktutils::detail::MessageValues;

// Every field set; `type` picks the 16-bit value (ServerInfo's differs from ConnectedDual2's).
MessageValues Values(uint16_t type);

struct Message {
    std::string encoder;  // the section name in the golden file
    uint16_t type;
    std::function<int(NQMessageBuffer&)> write;  // with the fixed arguments
};
// All 23 types, in catalogue order.
const std::vector<Message>& Messages();

}  // namespace fixture
