#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "ktutils/host/mqmath/xstring.h"
#include "ktutils/host/nq2/nq_message_buffer.h"
#include "ktutils/ktutils_export.h"
#include "ktutils/protocol/ktu_message2.h"
#include "ktutils/protocol/ktu_records.h"
#include "ktutils/protocol/xlist.h"

// Any received message of the set taken apart by the decoder of its type, for
// a log or a look inside without a switch over the types in every program.
//
//   NQMessageBuffer in;  ...  while (in.NextMsg()) {
//       const ktutils::MessageDescription message = ktutils::DescribeMessage(in);
//       std::puts(ktutils::ToText(message).c_str());
//   }
//
// prints lines such as
//   KTMESSAGETYPE2_CHALLENGE challenge=0x12345678
//   KTMESSAGETYPE2_BADMODULE modules=[0000002a-00000001:3]
// and ToJson the same as one JSON object:
//   {"type":20,"name":"KTMESSAGETYPE2_CHALLENGE","challenge":305419896}
namespace ktutils {

// The fields that payloads carry. A message has some of them, in a fixed
// order (the wire order): MessageDescription::fields lists them.
enum class MessageField : uint8_t {
    Value32,       // value32: 32-bit (14, 15), shown in hex
    Value16,       // value16: 16-bit (15, 26)
    Challenge,     // challenge: 32-bit, shown in hex
    Block1,        // block1: 16 bytes, shown as 32 hex digits
    String1,       // string1: a text, shown quoted
    Block2,        // block2
    String2,       // string2
    Version,       // version: 1.2.3.4
    Modules,       // modules: a list of KTUGuidVersion, [0000002a-00000001:3,...]
    ModuleStates,  // modules: a list of KTUModuleInfo, [0000002a-00000001/1,...] (14, 15)
    ModuleIds,     // moduleIds: a list of KTUGUID, [0000002a-00000001,...] (26)
    Reason,        // reason: the 8-bit denial reason (122)
};

// One message, as its decoder left it. Only the members that `fields` names,
// and of those only the ones read, hold values of the message; the others
// stay zero or empty.
struct MessageDescription {
    uint16_t type = 0;
    bool known = false;     // one of the 23 types of the set (else nothing is decoded)
    bool damaged = false;   // the decoder refused the payload: the fields hold what it read before
    bool trailing = false;  // payload left over after the last field
    std::vector<MessageField> fields;
    // How many of `fields`, from the first, the decoder read whole; the
    // payload ended before the others, which hold no value. A list counts as
    // read once reached: it holds the elements read before the end. All of
    // them in a whole payload (and by default, in a description made by hand).
    std::size_t fieldsRead = std::numeric_limits<std::size_t>::max();

    uint32_t value32 = 0;
    uint16_t value16 = 0;
    uint32_t challenge = 0;
    unsigned char block1[16] = {};
    XString string1;
    unsigned char block2[16] = {};
    XString string2;
    KTUVersion version;
    XList<KTUGuidVersion> modules;
    XList<KTUModuleInfo> moduleStates;
    XList<KTUGUID> moduleIds;
    uint8_t reason = 0;

    // The type's constant name, or "UNKNOWN_MESSAGE".
    const char* Name() const { return KTUMessage2::KTUMessage2TypeToString(type); }
    // Whether `field` is one of `fields` and was read.
    bool WasRead(MessageField field) const {
        for (std::size_t i = 0; i < fields.size() && i < fieldsRead; ++i) {
            if (fields[i] == field) return true;
        }
        return false;
    }
};

// How ToText, ToJson and FieldText show a message. The default shows every
// value as received; a program that writes logs others may read chooses
// what to hide.
struct RenderOptions {
    // string2 and block2, the connect requests' passwords, as <redacted>.
    bool redactSecrets = false;
};

// Describes the current message of `buffer` (NextMsg returned true): reads
// its payload with the decoder of its type, which consumes it and never
// reads past it. A payload-free or unknown type reads nothing.
KTUTILS_EXPORT MessageDescription DescribeMessage(NQMessageBuffer& buffer);

// The field's name as ToText and ToJson show it: "value32", "challenge", ...
KTUTILS_EXPORT const char* FieldName(MessageField field);
// The field's value as ToText shows it: 0x12345678, "player", 1.2.3.4, [...];
// <missing> for a field the decoder did not read, and <redacted> for a
// password that `options` hides. Texts are quoted with \" and \\ and every
// byte outside printable ASCII as \xNN, so a value never breaks a line.
KTUTILS_EXPORT std::string FieldText(const MessageDescription& message, MessageField field,
                                     const RenderOptions& options = {});

// One line without its end: the name, " type=N" for an unknown type, then
// " name=value" for each field in wire order (FieldText), then
// error="payload ends inside a field" when damaged and trailing=true when
// payload is left over.
KTUTILS_EXPORT std::string ToText(const MessageDescription& message, const RenderOptions& options = {});
// One JSON object on one line: "type", "name", each field read ("challenge":
// 305419896, "version":"1.2.3.4", "modules":[{"id":"0000002a-00000001",
// "version":3}], ModuleStates' elements with "state", blocks as hex texts,
// a hidden password as "<redacted>"), then "missing" with the names of the
// fields not read, and "error" and "trailing" as in ToText. Texts are UTF-8:
// each maximal ill-formed byte sequence becomes one U+FFFD.
KTUTILS_EXPORT std::string ToJson(const MessageDescription& message, const RenderOptions& options = {});

}  // namespace ktutils
