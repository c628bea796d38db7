#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/text/decoded_message.h"

// One line per message, shared by dump, serve and connect: the library's
// text and JSON forms of the message (ktutils::ToText, ktutils::ToJson) with
// its offset in front.
//
// Text:  @<offset> <TYPE NAME> <field>=<value> ...
//        e.g. @0 KTMESSAGETYPE2_CHALLENGE challenge=0x12345678
// JSON:  {"offset":0,"type":20,"name":"KTMESSAGETYPE2_CHALLENGE","challenge":305419896}
//
// A field that a refused payload never carried shows as <missing> (JSON:
// its name in "missing"). Passwords (string2, block2) show as <redacted>
// unless `showSecrets`: the tool's lines end up in logs and tickets.
namespace ktutils::tool {

std::string FormatText(const DecodedMessage& message, bool showSecrets = false);
// The JSON line's members for a caller that adds its own: the same object
// as the printer's JSON line.
nlohmann::ordered_json ToJson(const DecodedMessage& message, bool showSecrets = false);

// Writes message and event lines to one stream, by default flushed line by
// line so that a reader on a pipe sees each step as it happens.
class MessagePrinter {
public:
    enum class Style { Text, Json };

    MessagePrinter(std::FILE* out, Style style, bool flushEachLine = true)
        : out_(out), style_(style), flushEachLine_(flushEachLine) {}
    // Hands each line, with its newline, to `sink` instead of a stream.
    MessagePrinter(std::function<void(std::string)> sink, Style style)
        : out_(nullptr), sink_(std::move(sink)), style_(style), flushEachLine_(false) {}

    // `direction` ("send"/"recv") and `peer` (a client number, 0 for none)
    // prefix the line when given.
    void Print(const DecodedMessage& message, const char* direction = nullptr,
               unsigned peer = 0);
    // A line that is not a message: `text` in text style, `event` in JSON.
    void Event(const std::string& text, nlohmann::ordered_json event, unsigned peer = 0);
    void ShowSecrets(bool show) { showSecrets_ = show; }

private:
    void Line(const std::string& line);

    std::FILE* out_;
    std::function<void(std::string)> sink_;
    Style style_;
    bool flushEachLine_;
    bool showSecrets_ = false;
};

}  // namespace ktutils::tool
