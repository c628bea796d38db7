#include "ktutils/checksum/detail/adler32_vector.h"

#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KTUTILS_ADLER32_X86 1
#include <immintrin.h>
#else
#define KTUTILS_ADLER32_X86 0
#endif

namespace ktutils::detail {

#if KTUTILS_ADLER32_X86
namespace {

// Adler-32's modulus: the largest prime below 2^16.
constexpr uint64_t kModulus = 65521;
// zlib's NMAX: from reduced sums, this many bytes of 0xFF are the most that
// keep the second sum within 32 bits. The vector lanes hold far less, but
// reducing as often as zlib keeps every lane's bound easy to check.
constexpr unsigned int kMaxChunk = 5552;

// What a kernel hands back for `blocks` blocks of B bytes: the sum of all the
// bytes, the sum over blocks of the bytes before each block, and the sum of
// every byte weighted by B minus its place in its block. From these the
// second Adler sum of the chunk follows (Finish).
struct BlockSums {
    uint64_t bytes = 0;
    uint64_t before = 0;
    uint64_t weighted = 0;
};

uint64_t LaneSum(const uint32_t* lanes, int count) {
    uint64_t sum = 0;
    for (int i = 0; i < count; ++i) sum += lanes[i];
    return sum;
}

// Lane bounds, for the 173 blocks of 32 bytes or 86 of 64 that fit in one
// chunk: a byte sum lane gets at most 16 * 255 per block (about 706,000), the
// "before" lane at most that per block (1.3e8), a weighted lane at most
// 4 * 255 * 64 per block (1.8e7): all far inside 32 bits. A 16-bit pair from
// maddubs is at most 2 * 255 * 64 = 32,640, inside its signed range.
__attribute__((target("ssse3"))) void BlocksSsse3(const unsigned char* p, unsigned int blocks,
                                                  BlockSums& out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1);
    const __m128i weightsHigh = _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
    const __m128i weightsLow = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    __m128i sum = zero, before = zero, weighted = zero;
    for (unsigned int i = 0; i < blocks; ++i, p += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        before = _mm_add_epi32(before, sum);
        sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)));
        // Two pairs of at most 16,320 each: the 16-bit sum stays in range.
        const __m128i pairs = _mm_add_epi16(_mm_maddubs_epi16(a, weightsHigh), _mm_maddubs_epi16(b, weightsLow));
        weighted = _mm_add_epi32(weighted, _mm_madd_epi16(pairs, ones));
    }
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), sum);
    out.bytes = LaneSum(lanes, 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), before);
    out.before = LaneSum(lanes, 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), weighted);
    out.weighted = LaneSum(lanes, 4);
}

// One function with no calls and few live vectors: 64-bit MinGW cannot align
// the stack to 32 bytes, so a spilled 256-bit value would fault there.
__attribute__((target("avx2"))) void BlocksAvx2(const unsigned char* p, unsigned int blocks, BlockSums& out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i weightsHigh =
        _mm256_setr_epi8(64, 63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43,
                         42, 41, 40, 39, 38, 37, 36, 35, 34, 33);
    const __m256i weightsLow =
        _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11,
                         10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    __m256i sum = zero, before = zero, weightedHigh = zero, weightedLow = zero;
    for (unsigned int i = 0; i < blocks; ++i, p += 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        before = _mm256_add_epi32(before, sum);
        sum = _mm256_add_epi32(sum, _mm256_add_epi32(_mm256_sad_epu8(a, zero), _mm256_sad_epu8(b, zero)));
        // Pairs up to 32,640 from the high weights: not added to the low
        // ones in 16 bits, which would pass the signed range.
        weightedHigh = _mm256_add_epi32(weightedHigh, _mm256_madd_epi16(_mm256_maddubs_epi16(a, weightsHigh), ones));
        weightedLow = _mm256_add_epi32(weightedLow, _mm256_madd_epi16(_mm256_maddubs_epi16(b, weightsLow), ones));
    }
    // Halves folded in 128 bits, so nothing 256 bits wide goes to memory.
    const __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
    const __m128i f = _mm_add_epi32(_mm256_castsi256_si128(before), _mm256_extracti128_si256(before, 1));
    const __m256i w = _mm256_add_epi32(weightedHigh, weightedLow);
    const __m128i v = _mm_add_epi32(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), s);
    out.bytes = LaneSum(lanes, 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), f);
    out.before = LaneSum(lanes, 4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), v);
    out.weighted = LaneSum(lanes, 4);
}

using Kernel = void (*)(const unsigned char*, unsigned int, BlockSums&);

struct Choice {
    Kernel kernel;
    unsigned int blockBytes;
    const char* name;
};

constexpr Choice kSsse3{BlocksSsse3, 32, "ssse3"};
constexpr Choice kAvx2{BlocksAvx2, 64, "avx2"};
constexpr Choice kNone{nullptr, 0, "none"};

struct Support {
    bool ssse3;
    bool avx2;
};

const Support& Supported() {
    static const Support support = [] {
        __builtin_cpu_init();
        // libgcc reports AVX2 only when the OS also saves the 256-bit registers.
        return Support{__builtin_cpu_supports("ssse3") != 0, __builtin_cpu_supports("avx2") != 0};
    }();
    return support;
}

const Choice& Pick(Adler32Code code) {
    const Support& has = Supported();
    switch (code) {
    case Adler32Code::Ssse3: return has.ssse3 ? kSsse3 : kNone;
    case Adler32Code::Avx2: return has.avx2 ? kAvx2 : kNone;
    case Adler32Code::Best: break;
    }
    return has.avx2 ? kAvx2 : has.ssse3 ? kSsse3 : kNone;
}

}  // namespace

bool Adler32Vector(unsigned long running, const unsigned char* data, unsigned int length,
                   unsigned long& result, Adler32Code code) {
    const Choice& choice = Pick(code);
    if (choice.kernel == nullptr) return false;
    uint64_t s1 = running & 0xffff;
    uint64_t s2 = (running >> 16) & 0xffff;
    // Whole blocks per chunk, so that only the last chunk has a tail.
    const unsigned int chunkMax = kMaxChunk / choice.blockBytes * choice.blockBytes;
    while (length > 0) {
        const unsigned int chunk = length < chunkMax ? length : chunkMax;
        const unsigned int blocks = chunk / choice.blockBytes;
        const unsigned int vectorBytes = blocks * choice.blockBytes;
        if (blocks != 0) {
            BlockSums sums;
            choice.kernel(data, blocks, sums);
            s2 += vectorBytes * s1 + choice.blockBytes * sums.before + sums.weighted;
            s1 += sums.bytes;
        }
        for (unsigned int i = vectorBytes; i < chunk; ++i) {
            s1 += data[i];
            s2 += s1;
        }
        s1 %= kModulus;
        s2 %= kModulus;
        data += chunk;
        length -= chunk;
    }
    result = static_cast<unsigned long>(s1 | (s2 << 16));
    return true;
}

const char* Adler32VectorKind() { return Pick(Adler32Code::Best).name; }

#else

bool Adler32Vector(unsigned long, const unsigned char*, unsigned int, unsigned long&, Adler32Code) { return false; }

const char* Adler32VectorKind() { return "none"; }

#endif

}  // namespace ktutils::detail
