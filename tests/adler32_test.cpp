#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/detail/adler32_vector.h"

// Every checksum is compared with zlib's adler32, the reference, never with a
// second copy of the algorithm.
namespace {

unsigned int Zlib(unsigned long running, const void* data, unsigned int length) {
    return static_cast<unsigned int>(adler32(running, static_cast<const Bytef*>(data), length));
}

unsigned int ZlibWhole(const void* data, unsigned int length) { return Zlib(adler32(0, nullptr, 0), data, length); }

std::vector<char> RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<char> bytes(size);
    for (char& b : bytes) b = static_cast<char>(random());
    return bytes;
}

// Bytes that end right at an inaccessible page: reading one byte too many
// faults.
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t size) {
        const std::size_t page = PageSize();
        m_span = (size + page - 1) / page * page + page;
#ifdef _WIN32
        m_base = static_cast<char*>(::VirtualAlloc(nullptr, m_span, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        if (m_base == nullptr) throw std::bad_alloc();
        DWORD previous = 0;
        ::VirtualProtect(m_base + m_span - page, page, PAGE_NOACCESS, &previous);
#else
        void* mapped = ::mmap(nullptr, m_span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        m_base = static_cast<char*>(mapped);
        ::mprotect(m_base + m_span - page, page, PROT_NONE);
#endif
        m_data = m_base + (m_span - page - size);
    }
    ~GuardedBuffer() {
#ifdef _WIN32
        ::VirtualFree(m_base, 0, MEM_RELEASE);
#else
        ::munmap(m_base, m_span);
#endif
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    char* data() const { return m_data; }

private:
    static std::size_t PageSize() {
#ifdef _WIN32
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return info.dwPageSize;
#else
        return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
#endif
    }

    char* m_base = nullptr;
    char* m_data = nullptr;
    std::size_t m_span = 0;
};

TEST(Adler32, StartsAtOneAndGivesTheKnownValue) {
    EXPECT_EQ(InitComputeCRC(), 1u);
    EXPECT_EQ(ComputeCRC("x", 0), 1u);
    // The checksum of "Wikipedia" that RFC 1950 examples quote: 0x11E60398.
    EXPECT_EQ(ComputeCRC("Wikipedia", 9), 0x11E60398u);
}

// Each vector code directly (a libdeflate build routes around them, and a
// CPU with AVX2 would never run the SSSE3 one): every length up to 70,000
// (every tail and chunk count of both block sizes), and the same bytes in
// pieces split at random points, so continued from random alignments, each
// prefix compared on the way.
class Adler32VectorCode : public ::testing::TestWithParam<ktutils::detail::Adler32Code> {};

TEST_P(Adler32VectorCode, MatchesZlibForEveryLengthAndSplit) {
    constexpr unsigned int kLongest = 70000;
    const std::vector<char> bytes = RandomBytes(kLongest, 1);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto vector = [&](unsigned long running, unsigned int at, unsigned int length) {
        unsigned long sum = 0;
        if (!ktutils::detail::Adler32Vector(running, data + at, length, sum, GetParam()))
            ADD_FAILURE() << "the CPU lost an instruction set";
        return sum;
    };
    unsigned long probe = 0;
    if (!ktutils::detail::Adler32Vector(1, data, 0, probe, GetParam())) GTEST_SKIP() << "not on this CPU";
    std::vector<unsigned long> prefix(kLongest + 1, adler32(0, nullptr, 0));
    for (unsigned int i = 0; i < kLongest; ++i) prefix[i + 1] = Zlib(prefix[i], data + i, 1);

    for (unsigned int length = 0; length <= kLongest; ++length)
        ASSERT_EQ(vector(1, 0, length), prefix[length]) << "length " << length;
    std::mt19937 random(2);
    for (int round = 0; round < 20; ++round) {
        unsigned long running = prefix[0];
        for (unsigned int at = 0; at < kLongest;) {
            const unsigned int piece = std::min(kLongest - at, static_cast<unsigned int>(random() % 12000));
            running = vector(running, at, piece);
            at += piece;
            ASSERT_EQ(running, prefix[at]) << "round " << round << " at " << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Codes, Adler32VectorCode,
                         ::testing::Values(ktutils::detail::Adler32Code::Ssse3, ktutils::detail::Adler32Code::Avx2),
                         [](const auto& info) {
                             return info.param == ktutils::detail::Adler32Code::Avx2 ? "Avx2" : "Ssse3";
                         });

TEST(Adler32, PiecesLaidEndToEndGiveTheWholeChecksum) {
    const std::vector<char> bytes = RandomBytes(100000, 3);
    std::mt19937 random(4);
    for (int round = 0; round < 100; ++round) {
        const auto length = static_cast<int>(random() % bytes.size());
        unsigned long running = InitComputeCRC();
        int at = 0;
        while (at < length) {
            const int piece = std::min(length - at, static_cast<int>(random() % 9000));
            running = ComputeCRC(running, bytes.data() + at, piece);
            at += piece;
        }
        ASSERT_EQ(running, ComputeCRC(bytes.data(), length)) << "length " << length;
        ASSERT_EQ(running, ZlibWhole(bytes.data(), static_cast<unsigned int>(length)));
    }
}

TEST(Adler32, AllOnesAtTheChunkBoundaryFromTheLargestSums) {
    // 5552 bytes of 0xFF from sums of 65520 are the most that fit in 32 bits
    // before a reduction; 5553 is the first length that would overflow.
    const std::vector<char> ones(5552 * 3 + 7, '\xff');
    for (unsigned long start : {1ul, 0xFFF0FFF0ul, 0x0000FFF0ul, 0xFFF00001ul}) {
        for (unsigned int length : {1u, 15u, 16u, 5551u, 5552u, 5553u, 5552u * 2, 5552u * 2 + 1,
                                    static_cast<unsigned int>(ones.size())}) {
            const unsigned int zlib = Zlib(start, ones.data(), length);
            EXPECT_EQ(ComputeCRC(start, ones.data(), static_cast<int>(length)), zlib)
                << "start " << start << " length " << length;
            for (auto code : {ktutils::detail::Adler32Code::Ssse3, ktutils::detail::Adler32Code::Avx2}) {
                unsigned long vector = zlib;
                ktutils::detail::Adler32Vector(start, reinterpret_cast<const unsigned char*>(ones.data()), length,
                                               vector, code);
                EXPECT_EQ(vector, zlib) << "vector code, start " << start << " length " << length;
            }
        }
    }
}

TEST(Adler32, NullBufferGivesTheStartValueWhateverTheRunningValue) {
    EXPECT_EQ(ComputeCRC(nullptr, 0), 1u);
    for (unsigned long running : {0ul, 1ul, 0x11E60398ul, 0xFFFFFFFFul, static_cast<unsigned long>(0x123456789ull)}) {
        EXPECT_EQ(ComputeCRC(running, nullptr, 0), 1u) << running;
        EXPECT_EQ(ComputeCRC(running, nullptr, 0), Zlib(running, nullptr, 0));
    }
}

TEST(Adler32, EmptyContinuationKeepsAValidRunningValue) {
    const char byte = 'a';
    for (unsigned long running : {1ul, 0x11E60398ul, 0xFFF0FFF0ul})
        EXPECT_EQ(ComputeCRC(running, &byte, 0), running);
}

TEST(Adler32, RunningValuesOutsideTheValidRangeMatchZlib) {
    // zlib takes only the low 32 bits and reduces unreduced halves differently
    // for short and long blocks: every length class must agree.
    const std::vector<char> bytes = RandomBytes(20000, 5);
    std::mt19937_64 random(6);
    std::vector<unsigned long> starts = {0x0000FFF1ul, 0xFFF10000ul, 0xFFFFFFFFul, 0xFFF1FFF1ul, 0x0001FFFFul};
    if (sizeof(unsigned long) > 4) starts.push_back(static_cast<unsigned long>(0x1234567800000001ull));
    for (int i = 0; i < 40; ++i) starts.push_back(static_cast<unsigned long>(random()));
    for (unsigned long start : starts) {
        for (unsigned int length : {0u, 1u, 2u, 15u, 16u, 17u, 5552u, 5553u, 20000u}) {
            EXPECT_EQ(ComputeCRC(start, bytes.data(), static_cast<int>(length)), Zlib(start, bytes.data(), length))
                << std::hex << "start " << start << std::dec << " length " << length;
        }
    }
}

TEST(Adler32, NegativeLengthReadsNothing) {
    // The data ends at a guard page: reading a single byte faults.
    GuardedBuffer buffer(0);
    EXPECT_EQ(ComputeCRC(buffer.data(), -1), 1u);
    EXPECT_EQ(ComputeCRC(0x11E60398ul, buffer.data(), -2147483647 - 1), 0x11E60398u);
}

TEST(Adler32, NeverReadsPastTheEnd) {
    const std::vector<char> bytes = RandomBytes(70000, 7);
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{31}, std::size_t{32}, std::size_t{33},
                               std::size_t{5553}, std::size_t{65536}, std::size_t{70000}}) {
        GuardedBuffer buffer(length);
        std::memcpy(buffer.data(), bytes.data(), length);
        EXPECT_EQ(ComputeCRC(buffer.data(), static_cast<int>(length)),
                  ZlibWhole(bytes.data(), static_cast<unsigned int>(length)));
        if (length > 3) {
            const unsigned int head = ComputeCRC(buffer.data(), 3);
            EXPECT_EQ(ComputeCRC(head, buffer.data() + 3, static_cast<int>(length - 3)),
                      ZlibWhole(bytes.data(), static_cast<unsigned int>(length)));
        }
    }
}

}  // namespace
