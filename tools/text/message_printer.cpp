#include "tools/text/message_printer.h"

#include <cerrno>
#include <cinttypes>

#include "tools/text/record_text.h"
#include "tools/cli/standard_output.h"

namespace ktutils::tool {
namespace {

using Json = nlohmann::ordered_json;

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

std::string ModuleInfoText(const KTUModuleInfo& info) {
    return FormatGuid(info.guid) + "/" + std::to_string(info.state);
}

template <class T, class F>
std::string ListText(const XList<T>& list, F format) {
    std::string text = "[";
    for (const T& item : list) {
        if (text.size() > 1) text += ',';
        text += format(item);
    }
    return text + "]";
}

const char* FieldName(Field field) {
    switch (field) {
    case Field::Value32: return "value32";
    case Field::Value16: return "value16";
    case Field::Challenge: return "challenge";
    case Field::Block1: return "block1";
    case Field::String1: return "string1";
    case Field::Block2: return "block2";
    case Field::String2: return "string2";
    case Field::Version: return "version";
    case Field::Modules: return "modules";
    case Field::Accepted: return "modules";
    case Field::ModuleIds: return "moduleIds";
    case Field::Denial: return "reason";
    }
    return "?";
}

std::string FieldText(const DecodedMessage& m, Field field) {
    switch (field) {
    case Field::Value32: return Hex32(m.value32);
    case Field::Value16: return std::to_string(m.value16);
    case Field::Challenge: return Hex32(m.challenge);
    case Field::Block1: return HexBlock(m.block1);
    case Field::String1: return Quoted(m.string1);
    case Field::Block2: return HexBlock(m.block2);
    case Field::String2: return Quoted(m.string2);
    case Field::Version: return FormatVersion(m.version);
    case Field::Modules: return ListText(m.modules, FormatModule);
    case Field::Accepted: return ListText(m.accepted, ModuleInfoText);
    case Field::ModuleIds: return ListText(m.moduleIds, FormatGuid);
    case Field::Denial: return std::to_string(m.denial);
    }
    return {};
}

Json FieldJson(const DecodedMessage& m, Field field) {
    switch (field) {
    case Field::Value32: return m.value32;
    case Field::Value16: return m.value16;
    case Field::Challenge: return m.challenge;
    case Field::Block1: return HexBlock(m.block1);
    case Field::String1: return m.string1.CStr();
    case Field::Block2: return HexBlock(m.block2);
    case Field::String2: return m.string2.CStr();
    case Field::Version: return FormatVersion(m.version);
    case Field::Modules: {
        Json list = Json::array();
        for (const KTUGuidVersion& module : m.modules) {
            list.push_back({{"id", FormatGuid(module.guid)}, {"version", module.version}});
        }
        return list;
    }
    case Field::Accepted: {
        Json list = Json::array();
        for (const KTUModuleInfo& info : m.accepted) {
            list.push_back({{"id", FormatGuid(info.guid)}, {"state", info.state}});
        }
        return list;
    }
    case Field::ModuleIds: {
        Json list = Json::array();
        for (const KTUGUID& id : m.moduleIds) list.push_back(FormatGuid(id));
        return list;
    }
    case Field::Denial: return m.denial;
    }
    return nullptr;
}

constexpr const char* kDamaged = "payload ends inside a field";
// What a password is shown as, unless asked for: logs end up in tickets.
constexpr const char* kRedacted = "<redacted>";

bool IsSecret(Field field) { return field == Field::String2 || field == Field::Block2; }

}  // namespace

std::string FormatText(const DecodedMessage& m, bool showSecrets) {
    std::string line = "@" + std::to_string(m.offset) + " " +
                       KTUMessage2::KTUMessage2TypeToString(m.type);
    if (!m.known) line += " type=" + std::to_string(m.type);
    std::size_t index = 0;
    for (Field field : FieldsOf(m.type)) {
        line += ' ';
        line += FieldName(field);
        line += '=';
        line += index++ >= m.fieldsRead             ? "<missing>"
                : IsSecret(field) && !showSecrets ? kRedacted
                                                  : FieldText(m, field);
    }
    if (m.damaged) line += std::string(" error=\"") + kDamaged + "\"";
    if (m.trailing) line += " trailing=true";
    return line;
}

Json ToJson(const DecodedMessage& m, bool showSecrets) {
    Json json = {{"offset", m.offset},
                 {"type", m.type},
                 {"name", KTUMessage2::KTUMessage2TypeToString(m.type)}};
    Json missing = Json::array();
    std::size_t index = 0;
    for (Field field : FieldsOf(m.type)) {
        if (index++ >= m.fieldsRead) {
            missing.push_back(FieldName(field));
        } else {
            json[FieldName(field)] = IsSecret(field) && !showSecrets ? Json(kRedacted) : FieldJson(m, field);
        }
    }
    if (!missing.empty()) json["missing"] = missing;
    if (m.damaged) json["error"] = kDamaged;
    if (m.trailing) json["trailing"] = true;
    return json;
}

void MessagePrinter::Print(const DecodedMessage& message, const char* direction, unsigned peer) {
    if (style_ == Style::Json) {
        Json json = Json::object();
        if (peer != 0) json["client"] = peer;
        if (direction != nullptr) json["dir"] = direction;
        json.update(ToJson(message, showSecrets_));
        Line(json.dump(-1, ' ', false, Json::error_handler_t::replace));
        return;
    }
    std::string line;
    if (peer != 0) line += "[" + std::to_string(peer) + "] ";
    if (direction != nullptr) line += std::string(direction) + " ";
    Line(line + FormatText(message, showSecrets_));
}

void MessagePrinter::Event(const std::string& text, Json event, unsigned peer) {
    if (style_ == Style::Json) {
        Json json = Json::object();
        if (peer != 0) json["client"] = peer;
        json.update(event);
        Line(json.dump(-1, ' ', false, Json::error_handler_t::replace));
        return;
    }
    Line(peer != 0 ? "[" + std::to_string(peer) + "] " + text : text);
}

void MessagePrinter::Line(const std::string& line) {
    if (sink_) {
        sink_(line + "\n");
        return;
    }
    WriteLine(out_, line);
    if (flushEachLine_ && std::fflush(out_) != 0) RememberWriteError(out_, errno);
}

}  // namespace ktutils::tool
