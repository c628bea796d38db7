#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <random>
#include <vector>

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/detail/adler32_vector.h"

namespace {

// The exported function (libdeflate or the vector code, as built), then each
// vector code on its own: a CPU with AVX2 never picks the SSSE3 one.
const char* const kWays[] = {"Exported", "Best", "Ssse3", "Avx2"};

unsigned long Checksum(int way, unsigned long running, const unsigned char* data, unsigned int length) {
    if (way == 0) return ComputeCRC(running, reinterpret_cast<const char*>(data), static_cast<int>(length));
    unsigned long result = 0;
    EXPECT_TRUE(ktutils::detail::Adler32Vector(running, data, length, result, ktutils::detail::Adler32Code(way - 1)));
    return result;
}

class Adler32 : public testing::TestWithParam<int> {};

// zlib's adler32 is the reference, from every kind of running value, over lengths around the 32- and 64-byte
// blocks and zlib's 5552-byte chunks, and in random pieces.
TEST_P(Adler32, MatchesZlibAtEveryChunkBoundaryAndSplit) {
#if defined(__x86_64__) || defined(__i386__)  // the CPU asked here, not the code under test
    if (GetParam() != 0 && !(GetParam() == 3 ? __builtin_cpu_supports("avx2") : __builtin_cpu_supports("ssse3")))
#else
    if (GetParam() != 0)
#endif
        GTEST_SKIP() << "this CPU lacks the instruction set";
    std::mt19937 random(1);
    std::vector<unsigned char> bytes(70000), ones(70000, 0xFF);  // all 0xFF: the overflow edge of both sums
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    std::vector<unsigned long> starts = {1, 0xFFF0FFF0, 0x0000FFF0, 0xFFF00001, 0x11E60398};  // sums up to 65520
    if (GetParam() == 0) starts.insert(starts.end(), {0xFFF1FFF1, 0xFFFFFFFF, 0xFFF10000, 0x0001FFFF});
    std::vector<unsigned int> lengths = {5503, 5504, 5505, 5535, 5536, 5537, 5551, 5552, 5553, 11104, 11105, 70000};
    for (unsigned int n = 0; n <= 130; ++n) lengths.push_back(n);
    for (const auto* data : {&bytes, &ones})
        for (unsigned long start : starts)
            for (unsigned int n : lengths)
                ASSERT_EQ(Checksum(GetParam(), start, data->data(), n), adler32(start, data->data(), n)) << start << " " << n;
    for (unsigned long running = 1, at = 0, piece = 0; at < bytes.size(); at += piece) {
        piece = std::min<unsigned long>(bytes.size() - at, random() % 3000);
        running = Checksum(GetParam(), running, bytes.data() + at, static_cast<unsigned int>(piece));
        ASSERT_EQ(running, adler32(1, bytes.data(), static_cast<unsigned int>(at + piece))) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, Adler32, testing::Range(0, 4), [](const auto& info) { return kWays[info.param]; });

// RFC 1950's example; a null buffer gives 1, as zlib's adler32 does; reading 4 GiB - 1 bytes from "x" would crash.
TEST(Adler32Start, IsOneAlsoForANullBufferAndAnEmptyOrNegativeLengthKeepsTheRunningValue) {
    EXPECT_EQ((std::vector<unsigned long>{InitComputeCRC(), ComputeCRC("Wikipedia", 9), ComputeCRC(nullptr, 0),
        ComputeCRC("x", -1), ComputeCRC(0xFFF0FFF0ul, nullptr, 0), ComputeCRC(0xFFF0FFF0ul, "x", INT_MIN)}),
        (std::vector<unsigned long>{1, 0x11E60398, 1, 1, 1, 0xFFF0FFF0}));
}

}  // namespace
