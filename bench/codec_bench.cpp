// Encode and decode through the real buffer: the headline handshake, then
// every payload message with the same rich values, a payload-free message,
// and the memcpy of the headline's payload bytes as the limit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/headline.h"
#include "tests/support/payload_codecs.h"

namespace {

using namespace ktutils::detail;

// Sealed output is handed over (as a sender would) every this many messages,
// so the buffer reuses its storage instead of growing to its capacity.
constexpr int kSendEvery = 256;

std::vector<uint8_t> Frame(const PayloadCodec& codec, MessageValues& values) {
    NQMessageBuffer out;
    codec.write(out, values);
    return out.TakeOutput();
}

void BM_Headline_Encode(benchmark::State& state) {
    const MessageValues v = RichValues();
    NQMessageBuffer out;
    int pending = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(KTUMessage2::WriteChallengeConnect2(
            out, v.challenge, v.string1, v.string2, v.version, v.guidVersions));
        if (++pending == kSendEvery) {
            benchmark::DoNotOptimize(out.TakeOutput());
            pending = 0;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeadlinePayloadBytes));
}
BENCHMARK(BM_Headline_Encode);

void BM_Headline_Decode(benchmark::State& state) {
    MessageValues v = RichValues();
    const std::vector<uint8_t> frame = Frame(*PayloadCodecOf(KTMESSAGETYPE2_CHALLENGECONNECT), v);
    NQMessageBuffer in;
    uint32_t challenge = 0;
    XString string1, string2;
    KTUVersion version;
    XList<KTUGuidVersion> modules;
    for (auto _ : state) {
        in.Receive(frame.data(), frame.size());
        in.NextMsg();
        benchmark::DoNotOptimize(
            KTUMessage2::ReadChallengeConnect2(in, challenge, string1, string2, version, modules));
        modules.Clear();  // the receiver's own clean-up, part of every decode
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeadlinePayloadBytes));
}
BENCHMARK(BM_Headline_Decode);

// The limit: the same number of bytes, copied.
void BM_Headline_Memcpy(benchmark::State& state) {
    std::vector<uint8_t> from(kHeadlinePayloadBytes, 0x5A);
    std::vector<uint8_t> to(kHeadlinePayloadBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(from.data());
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeadlinePayloadBytes));
}
BENCHMARK(BM_Headline_Memcpy);

void EncodeFamily(benchmark::State& state, const PayloadCodec* codec) {
    MessageValues v = RichValues();
    NQMessageBuffer out;
    int pending = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(codec->write(out, v));
        if (++pending == kSendEvery) {
            benchmark::DoNotOptimize(out.TakeOutput());
            pending = 0;
        }
    }
}

void DecodeFamily(benchmark::State& state, const PayloadCodec* codec) {
    MessageValues v = RichValues();
    const std::vector<uint8_t> frame = Frame(*codec, v);
    NQMessageBuffer in;
    MessageValues into;
    for (auto _ : state) {
        in.Receive(frame.data(), frame.size());
        in.NextMsg();
        benchmark::DoNotOptimize(codec->read(in, into));
        into.guidVersions.Clear();
        into.moduleInfos.Clear();
        into.guids.Clear();
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(frame.size() - NQMessageBuffer::kHeaderSize));
}

void BM_PayloadFree_Encode(benchmark::State& state) {
    NQMessageBuffer out;
    int pending = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(KTUMessage2::WritePing2(out));
        if (++pending == kSendEvery) {
            benchmark::DoNotOptimize(out.TakeOutput());
            pending = 0;
        }
    }
}
BENCHMARK(BM_PayloadFree_Encode);

// One encode and one decode benchmark per payload message, by name.
const bool kFamiliesRegistered = [] {
    for (const PayloadCodec& codec : PayloadCodecs()) {
        benchmark::RegisterBenchmark((std::string("BM_Encode/") + codec.name).c_str(),
                                     EncodeFamily, &codec);
        benchmark::RegisterBenchmark((std::string("BM_Decode/") + codec.name).c_str(),
                                     DecodeFamily, &codec);
    }
    return true;
}();

}  // namespace
