#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <random>
#include <vector>

#include "checksum/compute_crc.h"
#include "checksum/detail/adler32_vector.h"

// Every checksum is compared with zlib's adler32, the reference.
namespace {

using ktutils::detail::Adler32Code;

// The exported functions (libdeflate or the vector code, as built), and each
// vector code on its own: a CPU with AVX2 never picks the SSSE3 one.
enum class Way { Exported, Best, Ssse3, Avx2 };

Adler32Code CodeOf(Way way) {
    return way == Way::Ssse3 ? Adler32Code::Ssse3 : way == Way::Avx2 ? Adler32Code::Avx2 : Adler32Code::Best;
}

unsigned long Checksum(Way way, unsigned long running, const unsigned char* data, unsigned int length) {
    if (way == Way::Exported)
        return ComputeCRC(running, reinterpret_cast<const char*>(data), static_cast<int>(length));
    unsigned long result = 0;
    EXPECT_TRUE(ktutils::detail::Adler32Vector(running, data, length, result, CodeOf(way)));
    return result;
}

// Asked of the CPU here, not of the code under test.
bool Available(Way way) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return way == Way::Exported || (way == Way::Avx2 ? __builtin_cpu_supports("avx2") : __builtin_cpu_supports("ssse3"));
#else
    return way == Way::Exported;
#endif
}

class Adler32 : public testing::TestWithParam<Way> {};

TEST_P(Adler32, MatchesZlibAtEveryChunkBoundaryAndSplit) {
    if (!Available(GetParam())) GTEST_SKIP() << "this CPU lacks the instruction set";
    std::mt19937 random(1);
    std::vector<unsigned char> bytes(70000);
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    std::vector<unsigned char> ones(bytes.size(), 0xFF);  // the overflow edge of both sums
    // Reduced states, the largest sums (65520) among them; the exported
    // functions also take what zlib reduces in its own way.
    std::vector<unsigned long> starts = {1, 0xFFF0FFF0, 0x0000FFF0, 0xFFF00001, 0x11E60398};
    if (GetParam() == Way::Exported) starts.insert(starts.end(), {0xFFF1FFF1, 0xFFFFFFFF, 0xFFF10000, 0x0001FFFF});
    // Whole 32- and 64-byte blocks per chunk, zlib's 5552, and past them.
    std::vector<unsigned int> lengths = {5503, 5504, 5505, 5535, 5536, 5537, 5551, 5552, 5553, 11104, 11105, 70000};
    for (unsigned int n = 0; n <= 130; ++n) lengths.push_back(n);
    for (const auto* data : {&bytes, &ones})
        for (unsigned long start : starts)
            for (unsigned int n : lengths)
                ASSERT_EQ(Checksum(GetParam(), start, data->data(), n), adler32(start, data->data(), n))
                    << std::hex << "start " << start << std::dec << " length " << n;
    for (int round = 0; round < 20; ++round) {  // pieces from random places, continued
        unsigned long running = 1, reference = 1;
        for (unsigned int at = 0, piece = 0; at < bytes.size(); at += piece) {
            piece = std::min<unsigned int>(static_cast<unsigned int>(bytes.size()) - at, random() % 9000);
            running = Checksum(GetParam(), running, bytes.data() + at, piece);
            reference = adler32(reference, bytes.data() + at, piece);
            ASSERT_EQ(running, reference) << "at " << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, Adler32, testing::Values(Way::Exported, Way::Best, Way::Ssse3, Way::Avx2));

TEST(Adler32Start, IsOneForANullBufferAndEmptyOrNegativeLengthsKeepTheRunningValue) {
    const char text[] = "Wikipedia";
    EXPECT_EQ(InitComputeCRC(), 1u);
    EXPECT_EQ(ComputeCRC(text, 9), 0x11E60398u);  // the value quoted for RFC 1950
    EXPECT_EQ(ComputeCRC(nullptr, 0), 1u);
    EXPECT_EQ(ComputeCRC(text, 0), 1u);
    EXPECT_EQ(ComputeCRC(text, -1), 1u);  // reading 4 GiB - 1 bytes from here would crash
    EXPECT_EQ(ComputeCRC(0x11E60398ul, text, INT_MIN), 0x11E60398u);
    for (unsigned long running : {0x11E60398ul, 0xFFF0FFF0ul}) {
        EXPECT_EQ(ComputeCRC(running, nullptr, 0), 1u) << running;  // zlib's answer too
        EXPECT_EQ(ComputeCRC(running, text, 0), running);
    }
}

}  // namespace
