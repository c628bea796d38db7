#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ktutils/ktutils.h"

namespace ktutils::tool {

// One received message, taken apart by the decoder of its type. Only the
// fields of that type are meaningful; FieldsOf tells which they are.
struct DecodedMessage {
    uint64_t offset = 0;  // of the header, in the stream it came from
    uint16_t type = 0;
    bool known = false;     // a type of the second message set
    bool damaged = false;   // the decoder refused the payload (returned 0)
    bool trailing = false;  // payload left over after the last field
    // How many of the type's fields (FieldsOf) were read whole: all (the
    // largest size_t) unless damaged; a list counts once reached, with the
    // elements read.
    std::size_t fieldsRead = SIZE_MAX;

    uint32_t challenge = 0;
    XString string1;
    XString string2;
    unsigned char block1[16] = {};
    unsigned char block2[16] = {};
    KTUVersion version;
    XList<KTUGuidVersion> modules;   // 21, 22, 27, 28, 29, 124
    XList<KTUModuleInfo> accepted;   // 14, 15
    XList<KTUGUID> moduleIds;        // 26
    uint8_t denial = 0;              // 122
    uint16_t value16 = 0;            // 15, 26
    uint32_t value32 = 0;            // 14, 15
};

// The fields that a type carries, in wire order.
enum class Field {
    Value32,
    Value16,
    Challenge,
    Block1,
    String1,
    Block2,
    String2,
    Version,
    Modules,
    Accepted,
    ModuleIds,
    Denial,
};
const std::vector<Field>& FieldsOf(uint16_t type);

// Decodes the current message of `buffer` (NextMsg returned true) with the
// decoder of its type, consuming its payload.
DecodedMessage DecodeCurrentMessage(NQMessageBuffer& buffer);

// True for the five connect requests (21, 22, 27, 28, 29).
bool IsConnectRequest(uint16_t type);

}  // namespace ktutils::tool
