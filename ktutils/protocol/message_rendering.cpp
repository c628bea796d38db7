// The text and JSON forms of a described message. The JSON is written here
// rather than with a JSON library, which the library does not depend on; its
// strings are escaped as JSON for Modern C++ writes them with its replacing
// error handler, so a program that writes the rest of its output with that
// library gets the same bytes either way.
#include <cinttypes>
#include <cstdio>

#include "ktutils/protocol/message_description.h"
#include "ktutils/protocol/record_text.h"

namespace ktutils {
namespace {

constexpr const char* kDamaged = "payload ends inside a field";
constexpr const char* kMissing = "<missing>";
constexpr const char* kRedacted = "<redacted>";

bool Hidden(MessageField field, const RenderOptions& options) {
    return options.redactSecrets && (field == MessageField::String2 || field == MessageField::Block2);
}

std::string Hex32(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08" PRIx32, value);
    return text;
}

std::string HexBlock(const unsigned char (&block)[16]) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : block) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// Quoted, with every byte that is not printable ASCII escaped, so a line
// stays one line whatever the peer sent.
std::string Quoted(const XString& string) {
    std::string text = "\"";
    for (const char* p = string.CStr(); *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            text += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            text += escape;
        }
    }
    return text + "\"";
}

std::string ModuleStateText(const KTUModuleInfo& info) { return ToString(info.guid) + "/" + std::to_string(info.state); }

template <class T, class Format>
std::string List(const XList<T>& list, Format format) {
    std::string text = "[";
    for (const T& item : list) {
        if (text.size() > 1) text += ',';
        text += format(item);
    }
    return text + "]";
}

// The length of the well-formed UTF-8 sequence at `p` when it is whole, else
// 0 with `bad` set to the length of its maximal ill-formed prefix (at least
// 1), the bytes that one U+FFFD replaces. The text ends at its terminator,
// which is never a continuation byte.
std::size_t Utf8Sequence(const unsigned char* p, std::size_t& bad) {
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        length = 2;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        length = 3;
        if (p[0] == 0xE0) low = 0xA0;  // no overlong forms
        if (p[0] == 0xED) high = 0x9F;  // no surrogates
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        length = 4;
        if (p[0] == 0xF0) low = 0x90;
        if (p[0] == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    std::size_t i = length == 0 ? length : 1;
    for (; i < length; ++i) {
        if (p[i] < (i == 1 ? low : 0x80) || p[i] > (i == 1 ? high : 0xBF)) break;
    }
    if (length != 0 && i == length) return length;
    bad = i == 0 ? 1 : i;
    return 0;
}

std::string JsonString(const char* text) {
    std::string json = "\"";
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
        switch (*p) {
        case '"': json += "\\\""; break;
        case '\\': json += "\\\\"; break;
        case '\b': json += "\\b"; break;
        case '\f': json += "\\f"; break;
        case '\n': json += "\\n"; break;
        case '\r': json += "\\r"; break;
        case '\t': json += "\\t"; break;
        default:
            if (*p < 0x20) {
                char escape[7];
                std::snprintf(escape, sizeof escape, "\\u%04x", *p);
                json += escape;
            } else if (*p < 0x80) {
                json += static_cast<char>(*p);
            } else {
                std::size_t bad = 0;
                const std::size_t length = Utf8Sequence(p, bad);
                if (length == 0) {
                    json += "\xEF\xBF\xBD";
                    p += bad;
                    continue;
                }
                json.append(reinterpret_cast<const char*>(p), length);
                p += length;
                continue;
            }
        }
        ++p;
    }
    return json + "\"";
}

std::string FieldJson(const MessageDescription& m, MessageField field) {
    switch (field) {
    case MessageField::Value32: return std::to_string(m.value32);
    case MessageField::Value16: return std::to_string(m.value16);
    case MessageField::Challenge: return std::to_string(m.challenge);
    case MessageField::Block1: return "\"" + HexBlock(m.block1) + "\"";
    case MessageField::String1: return JsonString(m.string1.CStr());
    case MessageField::Block2: return "\"" + HexBlock(m.block2) + "\"";
    case MessageField::String2: return JsonString(m.string2.CStr());
    case MessageField::Version: return "\"" + ToString(m.version) + "\"";
    case MessageField::Modules:
        return List(m.modules, [](const KTUGuidVersion& module) {
            return "{\"id\":\"" + ToString(module.guid) + "\",\"version\":" + std::to_string(module.version) + "}";
        });
    case MessageField::ModuleStates:
        return List(m.moduleStates, [](const KTUModuleInfo& info) {
            return "{\"id\":\"" + ToString(info.guid) + "\",\"state\":" + std::to_string(info.state) + "}";
        });
    case MessageField::ModuleIds:
        return List(m.moduleIds, [](const KTUGUID& id) { return "\"" + ToString(id) + "\""; });
    case MessageField::Reason: return std::to_string(m.reason);
    }
    return "null";
}

}  // namespace

const char* FieldName(MessageField field) {
    switch (field) {
    case MessageField::Value32: return "value32";
    case MessageField::Value16: return "value16";
    case MessageField::Challenge: return "challenge";
    case MessageField::Block1: return "block1";
    case MessageField::String1: return "string1";
    case MessageField::Block2: return "block2";
    case MessageField::String2: return "string2";
    case MessageField::Version: return "version";
    case MessageField::Modules: return "modules";
    case MessageField::ModuleStates: return "modules";
    case MessageField::ModuleIds: return "moduleIds";
    case MessageField::Reason: return "reason";
    }
    return "?";
}

std::string FieldText(const MessageDescription& m, MessageField field, const RenderOptions& options) {
    if (!m.WasRead(field)) return kMissing;
    if (Hidden(field, options)) return kRedacted;
    switch (field) {
    case MessageField::Value32: return Hex32(m.value32);
    case MessageField::Value16: return std::to_string(m.value16);
    case MessageField::Challenge: return Hex32(m.challenge);
    case MessageField::Block1: return HexBlock(m.block1);
    case MessageField::String1: return Quoted(m.string1);
    case MessageField::Block2: return HexBlock(m.block2);
    case MessageField::String2: return Quoted(m.string2);
    case MessageField::Version: return ToString(m.version);
    case MessageField::Modules:
        return List(m.modules, [](const KTUGuidVersion& module) { return ToString(module); });
    case MessageField::ModuleStates: return List(m.moduleStates, ModuleStateText);
    case MessageField::ModuleIds: return List(m.moduleIds, [](const KTUGUID& id) { return ToString(id); });
    case MessageField::Reason: return std::to_string(m.reason);
    }
    return {};
}

std::string ToText(const MessageDescription& m, const RenderOptions& options) {
    std::string line = m.Name();
    if (!m.known) line += " type=" + std::to_string(m.type);
    for (MessageField field : m.fields) {
        line += std::string(" ") + FieldName(field) + "=" + FieldText(m, field, options);
    }
    if (m.damaged) line += std::string(" error=\"") + kDamaged + "\"";
    if (m.trailing) line += " trailing=true";
    return line;
}

std::string ToJson(const MessageDescription& m, const RenderOptions& options) {
    std::string json = "{\"type\":" + std::to_string(m.type) + ",\"name\":\"" + m.Name() + "\"";
    std::string missing;
    for (MessageField field : m.fields) {
        if (!m.WasRead(field)) {
            missing += std::string(missing.empty() ? "" : ",") + "\"" + FieldName(field) + "\"";
            continue;
        }
        json += std::string(",\"") + FieldName(field) + "\":";
        json += Hidden(field, options) ? std::string("\"") + kRedacted + "\"" : FieldJson(m, field);
    }
    if (!missing.empty()) json += ",\"missing\":[" + missing + "]";
    if (m.damaged) json += std::string(",\"error\":\"") + kDamaged + "\"";
    if (m.trailing) json += ",\"trailing\":true";
    return json + "}";
}

}  // namespace ktutils
