// Eight threads at once call every exported function family on their own
// buffers and lists, and must get exactly what one thread alone gets. Built as
// a binary of its own so that .ci/run can run it under ThreadSanitizer
// without the rest of the suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "message_fixtures.h"
#include "temp_dir.h"
#include "tests/pe_image_writer.h"
#include "tests/support/payload_codecs.h"
#include "tests/support/rich_values.h"

namespace {

using ktutils::detail::MessageValues;
using ktutils::detail::PayloadCodec;

constexpr int kThreads = 8;
constexpr int kRounds = 25;

// What a workload may use besides the library: the number of its thread (-1
// for the single-threaded reference run), so that a workload on files can
// give each thread a file of its own beside the files all threads share.
struct ThreadContext {
    int thread;
};

// One family of exported calls. `run` returns everything observable about
// the calls (bytes written, values read, texts and pointers handed out), so
// that two runs agree exactly when the calls behaved the same.
struct Workload {
    std::string name;
    std::function<std::string(const ThreadContext&)> run;
};

std::string OutputOf(const NQMessageBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.OutputData()), buffer.OutputSize());
}

// Decodes the one message in `frame` with `codec` and writes what it decoded
// again: the result shows the decoder's answer and every value it produced.
std::string DecodeAndReencode(const PayloadCodec& codec, const NQMessageBuffer& frame) {
    NQMessageBuffer in;
    in.Receive(frame.OutputData(), frame.OutputSize());
    if (!in.NextMsg()) return "no message";
    MessageValues decoded;
    std::string result = "read " + std::to_string(codec.read(in, decoded)) + ":";
    NQMessageBuffer again;
    codec.write(again, decoded);
    return result + OutputOf(again);
}

// The 23 encoders with the fixed arguments, and the 12 decoders on their output.
std::string RunFixtureMessages(const ThreadContext&) {
    std::string result;
    for (const fixture::Message& m : fixture::Messages()) {
        NQMessageBuffer out;
        result += std::to_string(m.write(out)) + OutputOf(out);
        if (const PayloadCodec* codec = ktutils::detail::PayloadCodecOf(m.type)) {
            result += DecodeAndReencode(*codec, out);
        }
    }
    return result;
}

// The twelve payload messages with long texts and lists, one buffer for all.
std::string RunRichMessages(const ThreadContext&) {
    MessageValues values = ktutils::detail::RichValues();
    std::string result;
    for (const PayloadCodec& codec : ktutils::detail::PayloadCodecs()) {
        NQMessageBuffer out;
        result += std::to_string(codec.write(out, values)) + OutputOf(out);
        result += DecodeAndReencode(codec, out);
    }
    return result;
}

// FNV-1a over the texts and their addresses: the same text at the same
// static address for every code, on every thread.
uint64_t Mix(uint64_t hash, const void* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ static_cast<const uint8_t*>(bytes)[i]) * 0x100000001B3ull;
    }
    return hash;
}
uint64_t MixText(uint64_t hash, const char* text) {
    hash = Mix(hash, &text, sizeof text);
    return Mix(hash, text, std::char_traits<char>::length(text));
}

std::string RunMessageTypeNames(const ThreadContext&) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (uint32_t type = 0; type <= UINT16_MAX; ++type) {
        hash = MixText(hash, KTUMessage2::KTUMessage2TypeToString(static_cast<uint16_t>(type)));
    }
    return std::to_string(hash);
}

std::string RunErrorNames(const ThreadContext&) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (int code = -2; code <= KTERR_USER + 2; ++code) {
        hash = MixText(hash, KTERRToString(static_cast<KTERR>(code)));
    }
    hash = MixText(hash, KTERRToString(static_cast<KTERR>(INT32_MIN)));
    hash = MixText(hash, KTERRToString(static_cast<KTERR>(INT32_MAX)));
    return std::to_string(hash);
}

std::string RunVersion(const ThreadContext&) {
    const KTUVersion& version = GetKTUVersion();
    const void* address = &version;
    return std::to_string(reinterpret_cast<uintptr_t>(address)) + ":" +
           std::string(reinterpret_cast<const char*>(version.parts), sizeof version.parts);
}

// The files the file workloads share, made once before any thread starts and
// removed when the test binary ends.
struct SharedFiles {
    TempDir dir;
    std::string data = dir.Path("shared.bin");           // 256 KiB, with a marker
    std::string unmarked = dir.Path("unmarked.bin");     // 64 KiB, without one
    std::string image = dir.Path("component.exe");       // an unsigned PE image
    std::vector<uint8_t> bytes;
    SharedFiles() {
        uint32_t x = 0x9E3779B9u;
        bytes.resize(256 * 1024);
        for (uint8_t& b : bytes) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(x >> 24);
        }
        WriteBytes(data, bytes);
        WriteBytes(unmarked, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 64 * 1024));
        WriteBytes(image, ktutils::test::WritePeImage(false));
        CreateFileCRCMarker(data.c_str(), ComputeCRC(data.c_str()));
    }
    std::string Own(const ThreadContext& c) const {
        return dir.Path("thread" + std::to_string(c.thread) + ".bin");
    }
};
const SharedFiles& Files() {
    static const SharedFiles files;
    return files;
}

// Adler-32 of memory whole, in pieces and continued; of the shared files.
std::string RunChecksums(const ThreadContext&) {
    const SharedFiles& f = Files();
    const char* data = reinterpret_cast<const char*>(f.bytes.data());
    const int size = static_cast<int>(f.bytes.size());
    unsigned long running = InitComputeCRC();
    for (int at = 0; at < size; at += 4093) running = ComputeCRC(running, data + at, std::min(4093, size - at));
    return std::to_string(ComputeCRC(data, size)) + " " + std::to_string(running) + " " +
           std::to_string(ComputeCRC(f.data.c_str())) + " " + std::to_string(ComputeCRC(f.unmarked.c_str()));
}

// Each thread writes, reads and rewrites the marker of a file of its own.
std::string RunOwnMarkers(const ThreadContext& c) {
    const std::string path = Files().Own(c);
    std::string result;
    int fromMarker = -1;
    result += std::to_string(CreateFileCRCMarker(path.c_str(), 0xA1B2C3D4u));
    const unsigned int stored = GetFileCRC(path.c_str(), &fromMarker);
    result += " " + std::to_string(stored) + "/" + std::to_string(fromMarker);
    // No file beside the marker: GetFileCRC2 refuses what is not a regular file.
    result += " " + std::to_string(GetFileCRC2(path.c_str()));
    result += " " + std::to_string(WriteFileInfo(path.c_str(), 0x01020304u, -7));
    result += " " + std::to_string(GetFileCRC(path.c_str(), nullptr));
    return result;
}

// All threads read the shared marker and rewrite it with the value it holds:
// a reader must always see that whole value, never a torn or missing one.
std::string RunSharedMarkers(const ThreadContext&) {
    const SharedFiles& f = Files();
    int fromMarker = -1;
    const unsigned int stored = GetFileCRC(f.data.c_str(), &fromMarker);
    const int rewritten = CreateFileCRCMarker(f.data.c_str(), stored);
    int unmarkedFrom = -1;
    const unsigned int computed = GetFileCRC(f.unmarked.c_str(), &unmarkedFrom);
    return std::to_string(stored) + "/" + std::to_string(fromMarker) + " " + std::to_string(rewritten) +
           " " + std::to_string(GetFileCRC2(f.data.c_str())) + " " + std::to_string(computed) + "/" +
           std::to_string(unmarkedFrom) + " " + std::to_string(GetFileCRC2(f.unmarked.c_str()));
}

// The trust provider is loaded and released by every call, from every thread.
std::string RunVerify(const ThreadContext&) {
    std::string image = Files().image;
    std::string missing = Files().dir.Path("missing.exe");
    return std::to_string(VerifyServerComponent(image.data(), 2, 0)) +
           std::to_string(VerifyServerComponent(image.data(), 2, 1)) +
           std::to_string(VerifyServerComponent(missing.data(), 2, 1));
}

// Every exported family has a workload here; a new family adds one.
std::vector<Workload> Workloads() {
    return {
        {"fixture messages", RunFixtureMessages},
        {"rich messages", RunRichMessages},
        {"message type names", RunMessageTypeNames},
        {"error names", RunErrorNames},
        {"version", RunVersion},
        {"checksums", RunChecksums},
        {"markers on own files", RunOwnMarkers},
        {"markers on a shared file", RunSharedMarkers},
        {"signature check", RunVerify},
    };
}

TEST(Concurrency, EightThreadsGetTheSingleThreadedResults) {
    const std::vector<Workload> workloads = Workloads();
    std::vector<std::string> expected;
    for (const Workload& w : workloads) expected.push_back(w.run(ThreadContext{-1}));

    // Failures are collected per thread and reported from this one.
    std::vector<std::vector<std::string>> mismatches(kThreads);
    std::promise<void> start;
    const std::shared_future<void> gate = start.get_future().share();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            gate.wait();
            const ThreadContext context{t};
            for (int round = 0; round < kRounds; ++round) {
                // Each thread starts at another workload, so that different
                // families overlap as well as the same one.
                for (std::size_t k = 0; k < workloads.size(); ++k) {
                    const std::size_t w = (k + static_cast<std::size_t>(t)) % workloads.size();
                    if (workloads[w].run(context) != expected[w]) {
                        mismatches[t].push_back(workloads[w].name + " in round " +
                                                std::to_string(round));
                    }
                }
            }
        });
    }
    start.set_value();
    for (std::thread& thread : threads) thread.join();

    for (int t = 0; t < kThreads; ++t) {
        EXPECT_TRUE(mismatches[t].empty())
            << "thread " << t << ": " << mismatches[t].size() << " mismatches, first "
            << mismatches[t].front();
    }
}

// Guards the test itself: a workload whose result ignored the calls would let
// any race through.
std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(Concurrency, WorkloadResultsCarryWhatTheCallsProduced) {
    const ThreadContext alone{-1};
    const std::string fixtures = RunFixtureMessages(alone);
    EXPECT_EQ(Count(fixtures, "read 1:"), 12u);
    EXPECT_NE(fixtures.find(fixture::kString1), std::string::npos);
    const std::string rich = RunRichMessages(alone);
    EXPECT_EQ(Count(rich, "read 1:"), 12u);
    EXPECT_NE(rich.find("player0123456789"), std::string::npos);
    EXPECT_NE(RunMessageTypeNames(alone), RunErrorNames(alone));
    const std::string checksums = RunChecksums(alone);
    EXPECT_EQ(checksums.substr(0, checksums.find(' ')),
              checksums.substr(checksums.find(' ') + 1, checksums.find(' ', checksums.find(' ') + 1) - checksums.find(' ') - 1))
        << "pieces and whole must agree: " << checksums;
    EXPECT_EQ(RunOwnMarkers(alone), "1 2712847316/1 0 1 16909060");
    EXPECT_EQ(RunVerify(alone), "000");
    const std::string version = RunVersion(alone);
    EXPECT_EQ(version.substr(version.find(':') + 1), std::string("\0\0\0\3", 4));
}

}  // namespace
