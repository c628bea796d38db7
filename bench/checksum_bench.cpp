#include <benchmark/benchmark.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/crc_marker.h"
#include "ktutils/checksum/detail/adler32_vector.h"
#include "ktutils/host/mqmath/mq_allocator.h"

namespace {

constexpr std::size_t kLargeFile = std::size_t{256} << 20;
constexpr std::size_t kSmallFile = std::size_t{1} << 10;

std::vector<char> RandomBlock(std::size_t size) {
    std::vector<char> bytes(size);
    std::uint32_t x = 2463534242u;
    for (char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x);
    }
    return bytes;
}

// The files live for the whole run in one folder, removed at exit.
class Files {
public:
    static Files& Get() {
        static Files files;
        return files;
    }
    const std::string& Large() const { return m_large; }
    const std::string& Small() const { return m_small; }
    const std::string& LargeWithMarker() const { return m_largeMarked; }
    const std::string& SmallWithMarker() const { return m_smallMarked; }

private:
    Files() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ktutils-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        m_dir = pattern;
        m_large = Write("large.bin", kLargeFile);
        m_small = Write("small.bin", kSmallFile);
        m_largeMarked = Write("large-marked.bin", kLargeFile);
        m_smallMarked = Write("small-marked.bin", kSmallFile);
        CreateFileCRCMarker(m_largeMarked.c_str(), ComputeCRC(m_largeMarked.c_str()));
        CreateFileCRCMarker(m_smallMarked.c_str(), ComputeCRC(m_smallMarked.c_str()));
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Write(const char* name, std::size_t size) {
        const std::string path = (m_dir / name).string();
        const std::vector<char> bytes = RandomBlock(size);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) std::abort();
        std::fclose(out);
        return path;
    }

    std::filesystem::path m_dir;
    std::string m_large, m_small, m_largeMarked, m_smallMarked;
};

void MemoryArgs(benchmark::internal::Benchmark* b) { b->Arg(64 << 10)->Arg(64 << 20); }

void BM_Adler32Zlib(benchmark::State& state) {
    const auto bytes = RandomBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto sum = adler32(1, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Adler32Zlib)->Apply(MemoryArgs);

// The vector code that builds without libdeflate (the Windows DLLs) use,
// compiled into this program so that it is measured where libdeflate is the
// library's path.
void BM_Adler32Vector(benchmark::State& state) {
    const auto bytes = RandomBlock(static_cast<std::size_t>(state.range(0)));
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    unsigned long probe = 0;
    if (!ktutils::detail::Adler32Vector(1, data, 0, probe)) {
        state.SkipWithError("no SSSE3 or AVX2 here");
        return;
    }
    for (auto _ : state) {
        unsigned long sum = 0;
        ktutils::detail::Adler32Vector(1, data, static_cast<unsigned int>(bytes.size()), sum);
        benchmark::DoNotOptimize(sum);
    }
    state.SetLabel(ktutils::detail::Adler32VectorKind());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Adler32Vector)->Apply(MemoryArgs);

// The library's own entry point: the fast path when it is built in.
void BM_ComputeCRCMemory(benchmark::State& state) {
    const auto bytes = RandomBlock(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto sum = ComputeCRC(bytes.data(), static_cast<int>(bytes.size()));
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ComputeCRCMemory)->Apply(MemoryArgs);

void BM_Memcpy(benchmark::State& state) {
    const auto bytes = RandomBlock(static_cast<std::size_t>(state.range(0)));
    std::vector<char> copy(bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Memcpy)->Apply(MemoryArgs);

// Fresh scratch memory at every call: what the first call of a process pays.
void BM_ComputeCRCFileFirstCall(benchmark::State& state) {
    const std::string& path = Files::Get().Large();
    for (auto _ : state) {
        state.PauseTiming();
        MqAllocator::Instance().Trim();
        state.ResumeTiming();
        benchmark::DoNotOptimize(ComputeCRC(path.c_str()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeFile));
}
BENCHMARK(BM_ComputeCRCFileFirstCall)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ComputeCRCFileRepeated(benchmark::State& state) {
    const std::string& path = Files::Get().Large();
    ComputeCRC(path.c_str());  // the kept block is warm from here on
    for (auto _ : state) benchmark::DoNotOptimize(ComputeCRC(path.c_str()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeFile));
}
BENCHMARK(BM_ComputeCRCFileRepeated)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick: the same cached file read in 1 MiB pieces into one buffer,
// without (arg 0) and with (arg 1) a checksum of each piece.
void BM_StreamingRead(benchmark::State& state) {
    const std::string& path = Files::Get().Large();
    const bool checksum = state.range(0) != 0;
    std::vector<unsigned char> piece(std::size_t{1} << 20);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        unsigned long sum = 1;
        ssize_t got;
        while ((got = ::read(fd, piece.data(), piece.size())) > 0)
            if (checksum) sum = ComputeCRC(sum, reinterpret_cast<const char*>(piece.data()), static_cast<int>(got));
        ::close(fd);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeFile));
}
BENCHMARK(BM_StreamingRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Why the scratch allocator keeps blocks and advises huge pages: the same read
// into fresh memory with 4 KiB pages (arg 0) and with huge-page advice (arg 1).
void BM_ReadIntoFreshMemory(benchmark::State& state) {
    const std::string& path = Files::Get().Large();
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t span = kLargeFile + kHugePage;
    for (auto _ : state) {
        void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) std::abort();
        auto* block = reinterpret_cast<unsigned char*>(
            (reinterpret_cast<std::uintptr_t>(raw) + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1});
        if (state.range(0) != 0) ::madvise(block, kLargeFile, MADV_HUGEPAGE);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t done = 0;
        ssize_t got;
        while (done < kLargeFile && (got = ::read(fd, block + done, kLargeFile - done)) > 0)
            done += static_cast<std::size_t>(got);
        ::close(fd);
        benchmark::DoNotOptimize(block[done - 1]);
        state.PauseTiming();
        ::munmap(raw, span);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kLargeFile));
}
BENCHMARK(BM_ReadIntoFreshMemory)->ArgName("huge")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a scratch block leaves resident once ComputeCRC has returned: the
// process's resident size after a call, less before it, starting with no
// kept blocks.
std::size_t ResidentBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long size = 0, resident = 0;
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%lu %lu", &size, &resident) != 2) resident = 0;
    std::fclose(statm);
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void BM_ComputeCRCResidentAfter(benchmark::State& state) {
    const std::string& path = Files::Get().Large();
    double growth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        MqAllocator::Instance().Trim();
        const std::size_t before = ResidentBytes();
        state.ResumeTiming();
        benchmark::DoNotOptimize(ComputeCRC(path.c_str()));
        state.PauseTiming();
        const std::size_t after = ResidentBytes();
        growth = std::max(growth, after > before ? static_cast<double>(after - before) / (1 << 20) : 0.0);
        state.ResumeTiming();
    }
    state.counters["resident_growth_MiB"] = growth;
}
BENCHMARK(BM_ComputeCRCResidentAfter)->Unit(benchmark::kMillisecond)->Iterations(3);

// The floor of a marker lookup: open a file, read 4 bytes, close it.
void BM_OpenRead4Close(benchmark::State& state) {
    const std::string& path = Files::Get().SmallWithMarker();
    const std::string marker = path + ".crc";
    for (auto _ : state) {
        const int fd = ::open(marker.c_str(), O_RDONLY | O_CLOEXEC);
        unsigned char bytes[4] = {};
        benchmark::DoNotOptimize(::read(fd, bytes, sizeof bytes));
        ::close(fd);
    }
}
BENCHMARK(BM_OpenRead4Close)->Unit(benchmark::kMicrosecond);

// A marker lookup reads 4 bytes, whatever the file's size.
void BM_GetFileCRCWithMarker(benchmark::State& state) {
    const std::string& path = state.range(0) == 0 ? Files::Get().SmallWithMarker() : Files::Get().LargeWithMarker();
    for (auto _ : state) benchmark::DoNotOptimize(GetFileCRC(path.c_str(), nullptr));
}
BENCHMARK(BM_GetFileCRCWithMarker)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_GetFileCRCWithoutMarker(benchmark::State& state) {
    const std::string& path = state.range(0) == 0 ? Files::Get().Small() : Files::Get().Large();
    for (auto _ : state) benchmark::DoNotOptimize(GetFileCRC(path.c_str(), nullptr));
}
BENCHMARK(BM_GetFileCRCWithoutMarker)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
