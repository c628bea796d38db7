// Eight threads call every exported family at once and must get what one thread alone gets.
#include <algorithm>
#include <cstdint>
#include <thread>

#include "tests/support/buffer_test_util.h"
#include "ktutils/host/mqmath/mq_scratch_block.h"
#include "tests/support/fixtures/message_fixtures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/fixtures/pe_image_writer.h"
#include "tests/support/payload_codecs.h"

namespace {

using namespace ktutils::detail;

// Numbers as text. Called with braces, which compute the values in order.
struct Words : std::string {
    template <class... T>
    Words(const T&... values) : std::string(((std::to_string(values) + " ") + ...)) {}  // NOLINT
};

std::string Sent(const std::vector<uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

const TempDir dir;
const std::string data = dir.Path("data"), image = dir.Path("component.exe");

// Every exported family: numbers first (names and version are static: one address everywhere), then bytes.
std::string Everything(const std::string& own) {
    std::string sent;
    int failed = 0;
    MessageValues values = RichValues();
    for (const fixture::Message& m : fixture::Messages()) {
        NQMessageBuffer b;
        failed += m.write(b) != 1;
        sent += Sent(Output(b));
    }
    for (const PayloadCodec& codec : PayloadCodecs()) {
        NQMessageBuffer b, again;  // a buffer reads what it received, beside what it sends
        MessageValues decoded;
        codec.write(b, values);
        b.Receive(b.OutputData(), b.OutputSize());
        failed += !(b.NextMsg() && codec.read(b, decoded) == 1 && codec.write(again, decoded) && Output(again) == Output(b));
        sent += Sent(Output(b));
    }
    std::size_t hash = reinterpret_cast<std::uintptr_t>(&GetKTUVersion()) + GetKTUVersion().parts[3];
    for (int code = -2; code <= UINT16_MAX; ++code) {
        hash = hash * 31 + reinterpret_cast<std::uintptr_t>(KTUMessage2::KTUMessage2TypeToString(uint16_t(code))) +
               reinterpret_cast<std::uintptr_t>(KTERRToString(KTERR(code)));
    }
    // Scratch blocks and strings in a tight loop, so that releases overlap.
    std::size_t held = 0;
    for (unsigned i = 0; i < 2000; ++i) {
        MqScratchBlock block((i % 5 + 1) * 40000u);
        XString* text = MqAllocator::Instance().AllocateScratchString();
        held += block.Memory() != nullptr && (*text = "scratch").GetLength() == 7;
        MqAllocator::Instance().ReleaseScratchString(text);
    }
    // Markers on a file of the thread's own and on one all rewrite; the trust provider loads each time.
    const std::string bytes = Sent(ReadBytes(data));
    const int size = static_cast<int>(bytes.size());
    unsigned long running = InitComputeCRC();
    for (int i = 0; i < size; i += 509) running = ComputeCRC(running, bytes.data() + i, std::min(509, size - i));
    int fromMarker = -1;
    const unsigned stored = GetFileCRC(data.c_str(), &fromMarker);
    return Words{failed, held, ComputeCRC(bytes.data(), size) == running, ComputeCRC(data.c_str()) == running,
                 stored == running, fromMarker, CreateFileCRCMarker(data.c_str(), stored),
                 GetFileCRC2(data.c_str()) == running, CreateFileCRCMarker(own.c_str(), 0xA1B2C3D4u),
                 GetFileCRC2(own.c_str()), WriteFileInfo(own.c_str(), 0x01020304u, -7), GetFileCRC(own.c_str(), nullptr),
                 VerifyServerComponent(&std::string(image)[0], 2, 0), VerifyServerComponent(&std::string(own)[0], 2, 1),
                 hash} + sent;
}

TEST(Concurrency, EightThreadsGetTheSingleThreadedResults) {
    WriteBytes(data, ktutils::test::WritePeImage(true)), WriteBytes(image, ktutils::test::WritePeImage(false));
    CreateFileCRCMarker(data.c_str(), ComputeCRC(data.c_str()));
    const std::string expected = Everything(dir.Path("alone"));
    // The lone run must show the calls working, or a race could pass unseen.
    EXPECT_EQ(expected.substr(0, 38), "0 2000 1 1 1 1 1 1 1 0 1 16909060 0 0 ");
    MqAllocator& allocator = MqAllocator::Instance();
    const std::size_t blocks = allocator.OutstandingBlocks(), strings = allocator.OutstandingStrings();
    std::vector<std::string> mismatches(8);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round)
                if (Everything(dir.Path(std::to_string(t))) != expected) mismatches[t] += Words{round};
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<std::string>(8)) << "the rounds of each thread that differed";
    EXPECT_TRUE(allocator.OutstandingBlocks() == blocks && allocator.OutstandingStrings() == strings &&
                allocator.CachedBlocks() <= MqAllocator::kMaxCachedBlocks);
}

}  // namespace
