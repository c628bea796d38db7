#include <gtest/gtest.h>

#include "tools/endpoint.h"
#include "tools/record_text.h"

namespace ktutils::tool {
namespace {

TEST(RecordText, VersionReadsFourPartsInOrderUpTo255) {
    const auto version = ParseVersion("1.20.255.0");
    ASSERT_TRUE(version);
    EXPECT_EQ(*version, KTUVersion(1, 20, 255, 0));
    EXPECT_EQ(FormatVersion(*version), "1.20.255.0");
}

TEST(RecordText, VersionRefusesWrongPartCountsRangesAndStrayCharacters) {
    for (const char* text : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "1.2.3.", ".1.2.3",
                             "-1.2.3.4", "+1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "0001.2.3.4",
                             "a.b.c.d"}) {
        EXPECT_FALSE(ParseVersion(text)) << text;
    }
}

TEST(RecordText, GuidIsTwoHexWordsOfUpToEightDigits) {
    const auto guid = ParseGuid("DEADbeef-1");
    ASSERT_TRUE(guid);
    EXPECT_EQ(guid->id1, 0xDEADBEEFu);
    EXPECT_EQ(guid->id2, 1u);
    EXPECT_EQ(FormatGuid(*guid), "deadbeef-00000001");
    for (const char* text : {"", "1", "-1", "1-", "123456789-1", "1-123456789", "g-1", "1-2-3"}) {
        EXPECT_FALSE(ParseGuid(text)) << text;
    }
}

TEST(RecordText, ModuleTakesADecimalOrHexVersionAndFormatsBackToItsInput) {
    const auto hex = ParseModule("2a-1:0x10");
    ASSERT_TRUE(hex);
    EXPECT_EQ(hex->version, 16u);
    const auto decimal = ParseModule("0000002a-00000001:4294967295");
    ASSERT_TRUE(decimal);
    EXPECT_EQ(decimal->version, 4294967295u);
    EXPECT_EQ(FormatModule(*decimal), "0000002a-00000001:4294967295");
    EXPECT_EQ(ParseModule(FormatModule(*hex)).value(), *hex);
    for (const char* text : {"2a-1", "2a-1:", "2a:3", "2a-1:4294967296", "2a-1:0x", "2a-1:-3",
                             "2a-1:3:4"}) {
        EXPECT_FALSE(ParseModule(text)) << text;
    }
}

TEST(Endpoint, HostAndPortWithBracketsForIpv6) {
    const auto v4 = ParseEndpoint("127.0.0.1:4000");
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->host, "127.0.0.1");
    EXPECT_EQ(v4->port, 4000);
    const auto v6 = ParseEndpoint("[::1]:65535");
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "::1");
    EXPECT_EQ(v6->port, 65535);
    for (const char* text : {"", "localhost", ":4000", "localhost:", "::1:4000", "[]:4000",
                             "host:65536", "host:-1", "host:4k"}) {
        EXPECT_FALSE(ParseEndpoint(text)) << text;
    }
}

}  // namespace
}  // namespace ktutils::tool
