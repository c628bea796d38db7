// Adler-32 through the library's exported ComputeCRC against memcpy, 64 KiB,
// for builds where Google Benchmark is absent: the Windows DLLs under Wine.
// Short samples, interleaved, medians of 301: on a loaded machine most
// samples then run unpreempted. Prints the ratio of speeds.
// Built by hand (docs/performance.md gives the command).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ktutils/checksum/compute_crc.h"

namespace {

constexpr int kBytes = 64 << 10;
constexpr int kCallsPerSample = 100;
constexpr int kSamples = 301;

template <class F>
double NanosecondsPerCall(F&& call) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCallsPerSample; ++i) call();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / kCallsPerSample;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    std::vector<char> from(kBytes), to(kBytes);
    unsigned int x = 2463534242u;
    for (char& b : from) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    volatile unsigned int sink = 0;
    std::vector<double> checksum, copy;
    for (int sample = 0; sample < kSamples; ++sample) {
        checksum.push_back(NanosecondsPerCall([&] { sink = ComputeCRC(from.data(), kBytes); }));
        copy.push_back(NanosecondsPerCall([&] {
            std::memcpy(to.data(), from.data(), kBytes);
            sink = static_cast<unsigned char>(to[x++ % kBytes]);
        }));
    }
    const double c = Median(checksum), m = Median(copy);
    std::printf("ComputeCRC 64 KiB: %.0f ns (%.1f GB/s); memcpy: %.0f ns (%.1f GB/s); %.2fx memcpy's speed\n", c,
                kBytes / c, m, kBytes / m, m / c);
    return 0;
}
