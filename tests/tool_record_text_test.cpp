#include <gtest/gtest.h>

#include "tools/endpoint.h"
#include "tools/record_text.h"

namespace ktutils::tool {
namespace {

// What the printer shows is what the command line accepts: parsing then formatting gives the
// canonical form; everything else is refused.
TEST(RecordText, ParsesIntoTheCanonicalFormAndRefusesEverythingElse) {
    EXPECT_EQ(FormatVersion(ParseVersion("1.20.255.0").value()), "1.20.255.0");
    EXPECT_EQ(FormatGuid(ParseGuid("DEADbeef-1").value()), "deadbeef-00000001");
    EXPECT_EQ(FormatModule(ParseModule("2a-1:0x10").value()), "0000002a-00000001:16");
    EXPECT_EQ(FormatModule(ParseModule("0000002a-00000001:4294967295").value()),
              "0000002a-00000001:4294967295");
    EXPECT_EQ(ParseVersion("1.20.255.0"), KTUVersion(1, 20, 255, 0));
    for (const char* text : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "1.2.3.", ".1.2.3", "-1.2.3.4",
                             "+1.2.3.4", " 1.2.3.4", "1.2.3.4 ", "0001.2.3.4", "a.b.c.d"})
        EXPECT_FALSE(ParseVersion(text)) << text;
    for (const char* text : {"", "1", "-1", "1-", "123456789-1", "1-123456789", "g-1", "1-2-3"})
        EXPECT_FALSE(ParseGuid(text)) << text;
    for (const char* text : {"2a-1", "2a-1:", "2a:3", "2a-1:4294967296", "2a-1:0x", "2a-1:-3", "2a-1:3:4"})
        EXPECT_FALSE(ParseModule(text)) << text;
}

TEST(Endpoint, HostAndPortWithBracketsForIpv6) {
    const auto v4 = ParseEndpoint("127.0.0.1:4000");
    const auto v6 = ParseEndpoint("[::1]:65535");
    ASSERT_TRUE(v4 && v6);
    EXPECT_EQ(v4->host + " " + std::to_string(v4->port), "127.0.0.1 4000");
    EXPECT_EQ(v6->host + " " + std::to_string(v6->port), "::1 65535");
    for (const char* text : {"", "localhost", ":4000", "localhost:", "::1:4000", "[]:4000", "host:65536",
                             "host:-1", "host:4k"})
        EXPECT_FALSE(ParseEndpoint(text)) << text;
}

}  // namespace
}  // namespace ktutils::tool
