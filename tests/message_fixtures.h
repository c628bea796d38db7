#pragma once

#include <cstdint>
#include <vector>

#include "ktutils/ktutils.h"

// One fixed set of arguments per message type, shared by the golden-bytes,
// round-trip and malformed-input tests (and usable as seeds elsewhere).
namespace fixture {

constexpr uint32_t kChallenge = 0x12345678;
constexpr uint8_t kDenial = 9;
constexpr uint32_t kConnectedValue = 0x01020304;
constexpr uint16_t kDualValue16 = 0xBEEF;
constexpr uint16_t kServerInfoValue = 0x6987;
extern const char* const kString1;
extern const char* const kString2;
extern const unsigned char kBlock1[16];  // 00 01 .. 0F
extern const unsigned char kBlock2[16];  // F0 F1 .. FF

KTUVersion Version();  // 1.2.3.4
XList<KTUGuidVersion> GuidVersions();
XList<KTUModuleInfo> ModuleInfos();
XList<KTUGUID> Guids();

struct Message {
    const char* encoder;  // the encoder's name, also the section name of the golden file
    uint16_t type;
    int (*write)(NQMessageBuffer&);  // writes the fixed arguments
    // Decodes the current message with the matching decoder into fresh
    // targets and returns its result; null for the payload-free types.
    int (*decode)(NQMessageBuffer&);
    // The same, and expects every target to equal the fixed arguments.
    void (*expectFixture)(NQMessageBuffer&);
};

// All 23 types, in catalogue order.
const std::vector<Message>& Messages();

// The fixture of the encoder named `encoder`.
const Message& ByEncoder(const char* encoder);

// The bytes that `message.write` puts into a fresh buffer.
std::vector<uint8_t> Encode(const Message& message);

}  // namespace fixture
