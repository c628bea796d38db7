// The exact bytes of every message type, pinned by tests/golden/messages.hex.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "message_fixtures.h"

namespace {

using Golden = std::map<std::string, std::vector<uint8_t>>;

// Sections "[Name]" of hex pairs; '#' starts a comment.
Golden LoadGolden() {
    std::ifstream file(KTUTILS_TEST_DATA_DIR "/golden/messages.hex");
    EXPECT_TRUE(file.good()) << "cannot open the golden file";
    Golden golden;
    std::string line, section;
    while (std::getline(file, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word.front() == '[' && word.back() == ']') {
                section = word.substr(1, word.size() - 2);
                golden[section];
            } else {
                EXPECT_FALSE(section.empty()) << "bytes before the first section";
                EXPECT_EQ(word.size(), 2u) << "in [" << section << "]: " << word;
                golden[section].push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
            }
        }
    }
    return golden;
}

std::vector<uint8_t> Payload(const std::vector<uint8_t>& frame) {
    return std::vector<uint8_t>(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end());
}

TEST(GoldenBytes, EveryEncoderWritesExactlyItsPinnedBytes) {
    const Golden golden = LoadGolden();
    ASSERT_EQ(golden.size(), 23u);
    for (const fixture::Message& m : fixture::Messages()) {
        SCOPED_TRACE(m.encoder);
        const auto pinned = golden.find(m.encoder);
        ASSERT_NE(pinned, golden.end());
        EXPECT_EQ(fixture::Encode(m), pinned->second);
        EXPECT_EQ(pinned->second.at(4) | (pinned->second.at(5) << 8), m.type);
    }
}

TEST(GoldenBytes, TwinTypesCarryIdenticalPayloads) {
    const Golden golden = LoadGolden();
    EXPECT_EQ(Payload(golden.at("WriteChallengeConnect2")),
              Payload(golden.at("WriteChallengeConnectDual2")));
    EXPECT_EQ(Payload(golden.at("WriteChallengeConnectSecured")),
              Payload(golden.at("WriteChallengeConnectDualSecured")));
}

TEST(GoldenBytes, EveryPinnedMessageDecodesToTheFixture) {
    const Golden golden = LoadGolden();
    for (const fixture::Message& m : fixture::Messages()) {
        SCOPED_TRACE(m.encoder);
        NQMessageBuffer in;
        const std::vector<uint8_t>& bytes = golden.at(m.encoder);
        in.Receive(bytes.data(), bytes.size());
        ASSERT_TRUE(in.NextMsg());
        EXPECT_EQ(in.MsgType(), m.type);
        if (m.expectFixture != nullptr) m.expectFixture(in);
        EXPECT_EQ(in.CurrentMsg(), 0);
    }
}

}  // namespace
