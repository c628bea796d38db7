#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/payload_codecs.h"

// One fixed set of arguments per message type: the values behind the golden
// bytes (tests/golden/messages.hex), the seeds of the fuzzers, and the
// workload of the thread test.
namespace fixture {

using ktutils::detail::MessageValues;

extern const char* const kString1;

// The fixed arguments of `type`: its own fields set, every other at default.
MessageValues Values(uint16_t type);

struct Message {
    const char* encoder;  // also the section name in the golden file
    uint16_t type;
    int (*write)(NQMessageBuffer&);  // with the fixed arguments
};

// All 23 types, in catalogue order.
const std::vector<Message>& Messages();

}  // namespace fixture
