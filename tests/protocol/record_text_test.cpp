// The records' text forms: what is written reads back unchanged, and only the exact forms are read.
#include <gtest/gtest.h>

#include <random>

#include "ktutils/protocol/record_text.h"

namespace {

// The value read from `text` written again, or "refused".
template <auto Parse>
std::string Reread(std::string_view text) {
    const auto value = Parse(text);
    return value ? ktutils::ToString(*value) : "refused";
}
constexpr auto V = Reread<ktutils::ParseVersion>, G = Reread<ktutils::ParseGuid>, M = Reread<ktutils::ParseGuidVersion>;

TEST(RecordText, ReadsExactlyTheWrittenFormsAndTheirShortHands) {
    const struct { std::string (*reread)(std::string_view); const char* text; const char* shown; } rows[] = {
        {V, "255.0.010.001", "255.0.10.1"}, {G, "2A-1", "0000002a-00000001"}, {G, "FFFFFFFF-0", "ffffffff-00000000"},
        {M, "2a-1:3", "0000002a-00000001:3"}, {M, "2a-1:0x10", "0000002a-00000001:16"}, {M, "2a-1:007", "0000002a-00000001:7"},
        {M, "2a-1:0XffffFFFF", "0000002a-00000001:4294967295"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.reread(row.text), row.shown) << row.text;
    // Whole texts only: no sign, space, overflow, missing or extra part, or more digits than a part has.
    const std::pair<std::string (*)(std::string_view), std::vector<const char*>> refused[] = {
        {V, {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "1.2.3.", ".1.2.3", "-1.2.3.4", "+1.2.3.4", " 1.2.3.4",
             "1.2.3.4 ", "0001.2.3.4", "a.b.c.d", "1.2.3.0x4"}},
        {G, {"", "2a", "2a-", "-1", "123456789-1", "1-000000001", "g-1", "1-2-3", "+1-2", "1- 2", "0x1-2", "2a-1:3"}},
        {M, {"2a-1", "2a-1:", "2a:3", "2a-1:4294967296", "2a-1:0x", "2a-1:-3", "2a-1:+3", "2a-1:3:4", "2a-1:0x1ffffffff",
             "2a-1: 3", "2a-1:3 ", "1-123456789:3", "2a-1:0x-3", "2a-1:3a"}},
    };
    for (const auto& [reread, texts] : refused) {
        for (const char* text : texts) EXPECT_EQ(reread(text), "refused") << text;
    }
}

TEST(RecordText, EveryValueReadsBackAsWritten) {
    for (int i = 0; i < 4 * 256; ++i) {  // each value of each part
        KTUVersion version(9, 99, 199, 255);
        version.parts[i / 256] = static_cast<uint8_t>(i);
        ASSERT_EQ(ktutils::ParseVersion(ktutils::ToString(version)), version) << i;
    }
    std::mt19937 random(29);  // the edges, and numbers of every length
    std::vector<uint32_t> numbers = {0, 1, 9, 10, 15, 16, 255, 256, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    for (int i = 0; i < 1000; ++i) numbers.push_back(static_cast<uint32_t>(random()) >> (random() % 32));
    for (std::size_t i = 0, n = numbers.size(); i < n; ++i) {
        const KTUGuidVersion module{{numbers[i], numbers[(i + 1) % n]}, numbers[(i + 5) % n]};
        ASSERT_EQ(ktutils::ParseGuidVersion(ktutils::ToString(module)), module) << i;  // the identifier's form within
    }
}

}  // namespace
