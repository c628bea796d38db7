#include "tools/text/message_printer.h"

#include <cerrno>

#include "tools/cli/standard_output.h"

namespace ktutils::tool {
namespace {

using Json = nlohmann::ordered_json;

// The library's JSON object with the offset, and the members before it, in
// front of its own.
std::string JsonLine(const DecodedMessage& m, const std::string& before = {}) {
    return "{" + before + "\"offset\":" + std::to_string(m.offset) + "," + ktutils::ToJson(m).substr(1);
}

}  // namespace

std::string FormatText(const DecodedMessage& m) { return "@" + std::to_string(m.offset) + " " + ToText(m); }

Json ToJson(const DecodedMessage& m) { return Json::parse(JsonLine(m)); }

void MessagePrinter::Print(const DecodedMessage& message, const char* direction, unsigned peer) {
    if (style_ == Style::Json) {
        std::string before;
        if (peer != 0) before += "\"client\":" + std::to_string(peer) + ",";
        if (direction != nullptr) before += "\"dir\":" + Json(direction).dump() + ",";
        Line(JsonLine(message, before));
        return;
    }
    std::string line;
    if (peer != 0) line += "[" + std::to_string(peer) + "] ";
    if (direction != nullptr) line += std::string(direction) + " ";
    Line(line + FormatText(message));
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
    std::fprintf(out_, "%s\n", line.c_str());
    if (flushEachLine_ && std::fflush(out_) != 0) RememberWriteError(out_, errno);
}

}  // namespace ktutils::tool
