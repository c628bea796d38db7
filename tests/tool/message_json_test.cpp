// The library writes its JSON itself; the tool writes the rest of its lines with JSON for Modern C++. Both
// must write a text the same way, so that one output never holds two spellings of the same bytes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ktutils/protocol/message_description.h"

namespace {

TEST(MessageJson, TextsAreEscapedAndRepairedAsTheToolsJsonLibraryDoesIt) {
    // Escapes, controls and DEL; then ill-formed UTF-8: stray, overlong, surrogate, above U+10FFFF, cut short
    // (at the end and before another character) and right at the edges of the ranges.
    for (const char* text : {"", "a\nb\"\\/\x01\x1f\t\r\b\f\x7f", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xFF\xFE",
                             "\x80\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xE0\x9F\xBF", "\xED\xA0\x80",
                             "\xED\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xF5x",
                             "\xE2\x82", "\xE2\x82" "A", "\xF0\x9F\x98", "\xF0\x9F\x98" "A\xC2", "\xEF\xBF\xBD\xC2\xA0"}) {
        ktutils::MessageDescription message;
        message.type = KTMESSAGETYPE2_CHALLENGECONNECT;
        message.fields = {ktutils::MessageField::String1};
        message.string1 = text;
        const std::string escaped =
            nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        EXPECT_EQ(ToJson(message), R"({"type":21,"name":"KTMESSAGETYPE2_CHALLENGECONNECT","string1":)" + escaped + "}")
            << testing::PrintToString(text);
    }
}

}  // namespace
