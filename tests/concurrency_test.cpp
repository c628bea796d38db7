// Eight threads call every exported family at once, over and over, and must
// get exactly what one thread alone gets. A binary of its own, so that CI runs
// it alone under ThreadSanitizer (the tsan-threads workflow).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "host/mqmath/mq_scratch_block.h"
#include "message_fixtures.h"
#include "temp_dir.h"
#include "tests/pe_image_writer.h"
#include "tests/support/rich_values.h"

namespace {

using namespace ktutils::detail;

// Numbers as text. Called with braces, which compute the values in order.
struct Words : std::string {
    template <class... T>
    Words(const T&... values) : std::string(((std::to_string(values) + " ") + ...)) {}  // NOLINT
};

std::string Sent(const NQMessageBuffer& b) { return {reinterpret_cast<const char*>(b.OutputData()), b.OutputSize()}; }

// Every encoder with fixed and with long values; every decoder on their output.
std::string Messages(int) {
    std::string result;
    for (const fixture::Message& m : fixture::Messages()) {
        NQMessageBuffer out;
        result += Words{m.write(out)} + Sent(out);
    }
    MessageValues values = RichValues();
    for (const PayloadCodec& codec : PayloadCodecs()) {
        NQMessageBuffer out, in, again;
        MessageValues decoded;
        result += Words{codec.write(out, values)} + Sent(out);
        in.Receive(out.OutputData(), out.OutputSize());
        const bool read = in.NextMsg() && codec.read(in, decoded) == 1;
        codec.write(again, decoded);
        result += read && Sent(again) == Sent(out) ? "" : "not read";
    }
    return result;
}

// Names and the version are static: the same text at the same address everywhere.
std::string NamesAndVersion(int) {
    std::size_t hash = reinterpret_cast<std::uintptr_t>(&GetKTUVersion());
    for (int code = -2; code <= UINT16_MAX; ++code) {
        for (const char* name : {KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(code)),
                                 KTERRToString(static_cast<KTERR>(code))}) {
            hash = hash * 31 + std::hash<std::string_view>{}(name) + reinterpret_cast<std::uintptr_t>(name);
        }
    }
    return Words{hash, GetKTUVersion().parts[3]};
}

struct SharedFiles {
    TempDir dir;
    std::string data = dir.Path("data.bin"), image = dir.Path("component.exe");
    std::vector<uint8_t> bytes = std::vector<uint8_t>(256 * 1024);
    SharedFiles() {
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
        WriteBytes(data, bytes);
        WriteBytes(image, ktutils::test::WritePeImage(false));
        CreateFileCRCMarker(data.c_str(), ComputeCRC(data.c_str()));
    }
};
const SharedFiles& Files() {
    static const SharedFiles files;
    return files;
}

// Checksums of memory, whole and in pieces, and of a file; markers on a file
// of each thread's own, and on one that all rewrite with the value it holds.
std::string Checksums(int thread) {
    const SharedFiles& f = Files();
    const char* data = reinterpret_cast<const char*>(f.bytes.data());
    const int size = static_cast<int>(f.bytes.size());
    unsigned long running = InitComputeCRC();
    for (int at = 0; at < size; at += 4093) running = ComputeCRC(running, data + at, std::min(4093, size - at));
    const std::string own = f.dir.Path("own" + std::to_string(thread));
    int fromMarker = -1;
    const unsigned stored = GetFileCRC(f.data.c_str(), &fromMarker);
    return Words{ComputeCRC(data, size) == running, ComputeCRC(f.data.c_str()) == running, stored == running,
                 fromMarker, CreateFileCRCMarker(f.data.c_str(), stored), GetFileCRC2(f.data.c_str()) == running,
                 CreateFileCRCMarker(own.c_str(), 0xA1B2C3D4u), GetFileCRC2(own.c_str()),
                 WriteFileInfo(own.c_str(), 0x01020304u, -7), GetFileCRC(own.c_str(), nullptr)};
}

// The trust provider is loaded and released by every call.
std::string Verify(int) {
    std::string image = Files().image, missing = Files().dir.Path("missing.exe");
    return Words{VerifyServerComponent(image.data(), 2, 0), VerifyServerComponent(missing.data(), 2, 1)};
}

// Scratch blocks and strings taken and given back in a tight loop, so that
// releases overlap with each other and with allocations.
std::string Scratch(int) {
    std::size_t held = 0;
    for (unsigned i = 0; i < 2000; ++i) {
        MqScratchBlock block((i % 5 + 1) * 40000u);
        XString* text = MqAllocator::Instance().AllocateScratchString();
        *text = "scratch";
        held += block.Memory() != nullptr && text->GetLength() == 7;
        MqAllocator::Instance().ReleaseScratchString(text);
    }
    return Words{held};
}

TEST(Concurrency, EightThreadsGetTheSingleThreadedResults) {
    std::string (*const workloads[])(int) = {Messages, NamesAndVersion, Checksums, Verify, Scratch};
    std::vector<std::string> expected;
    for (auto* run : workloads) expected.push_back(run(-1));
    // The lone run must show the calls working, or a race could pass unseen.
    EXPECT_EQ(expected[0].find("not read"), std::string::npos);
    EXPECT_EQ(expected[1].substr(expected[1].find(' ')), " 3 ");
    EXPECT_EQ(expected[2] + expected[3] + expected[4], "1 1 1 1 1 1 1 0 1 16909060 0 0 2000 ");
    const std::size_t blocks = MqAllocator::Instance().OutstandingBlocks();
    const std::size_t strings = MqAllocator::Instance().OutstandingStrings();
    std::vector<std::vector<std::string>> mismatches(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            // Each thread starts at another workload, so that families overlap as well.
            for (std::size_t k = 0; k < 25 * std::size(workloads); ++k) {
                const std::size_t w = (k + static_cast<std::size_t>(t)) % std::size(workloads);
                if (workloads[w](t) != expected[w]) mismatches[t].push_back(Words{w, k});
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(mismatches[t], std::vector<std::string>{}) << "workload, step of thread " << t;
    EXPECT_EQ(MqAllocator::Instance().OutstandingBlocks(), blocks);
    EXPECT_EQ(MqAllocator::Instance().OutstandingStrings(), strings);
    EXPECT_LE(MqAllocator::Instance().CachedBlocks(), MqAllocator::kMaxCachedBlocks);
}

}  // namespace
