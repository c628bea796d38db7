#include "tools/text/message_printer.h"

#include <cerrno>

#include "tools/cli/standard_output.h"

namespace ktutils::tool {
namespace {

using Json = nlohmann::ordered_json;

RenderOptions Rendering(bool showSecrets) {
    RenderOptions options;
    options.redactSecrets = !showSecrets;
    return options;
}

// The library's JSON object with the offset, and the members before it, in
// front of its own.
std::string MessageJson(const DecodedMessage& m, bool showSecrets, const std::string& before = {}) {
    return "{" + before + "\"offset\":" + std::to_string(m.offset) + "," +
           ktutils::ToJson(m, Rendering(showSecrets)).substr(1);
}

}  // namespace

std::string FormatText(const DecodedMessage& m, bool showSecrets) {
    return "@" + std::to_string(m.offset) + " " + ToText(m, Rendering(showSecrets));
}

Json ToJson(const DecodedMessage& m, bool showSecrets) { return Json::parse(MessageJson(m, showSecrets)); }

void MessagePrinter::Print(const DecodedMessage& message, const char* direction, unsigned peer) {
    if (style_ == Style::Json) {
        std::string before;
        if (peer != 0) before += "\"client\":" + std::to_string(peer) + ",";
        if (direction != nullptr) before += "\"dir\":" + Json(direction).dump() + ",";
        Line(MessageJson(message, showSecrets_, before));
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
