// Stream throughput: bytes per second of walking a received buffer of 10,000
// mixed messages, every type of the set in turn, with and without decoding
// each payload.
#include <benchmark/benchmark.h>

#include <vector>

#include "tests/support/payload_codecs.h"

namespace {

using namespace ktutils::detail;

constexpr int kStreamMessages = 10000;

using EmptyWriter = int (*)(NQMessageBuffer&);
const EmptyWriter kPayloadFree[] = {
    KTUMessage2::WriteShutdown2,        KTUMessage2::WritePing2,
    KTUMessage2::WriteBeginChallenge2,  KTUMessage2::WriteBeginChallengeSSL2,
    KTUMessage2::WriteKeepAlive2,       KTUMessage2::WriteSSL2,
    KTUMessage2::WriteLookForServer,    KTUMessage2::WriteConnectionError2,
    KTUMessage2::WriteServerFull2,      KTUMessage2::WriteNotConnectedYet2,
    KTUMessage2::WriteAlreadyConnected2};
constexpr int kPayloadFreeCount = sizeof kPayloadFree / sizeof kPayloadFree[0];

// The 23 types in turn: the twelve payload messages with rich values, then
// the eleven without payload.
const std::vector<uint8_t>& MixedStream() {
    static const std::vector<uint8_t> stream = [] {
        MessageValues values = RichValues();
        NQMessageBuffer out(64 * 1024 * 1024);
        const int kinds = static_cast<int>(kPayloadCodecCount) + kPayloadFreeCount;
        for (int i = 0; i < kStreamMessages; ++i) {
            const int kind = i % kinds;
            if (kind < static_cast<int>(kPayloadCodecCount)) {
                PayloadCodecs()[static_cast<std::size_t>(kind)].write(out, values);
            } else {
                kPayloadFree[kind - static_cast<int>(kPayloadCodecCount)](out);
            }
        }
        return out.TakeOutput();
    }();
    return stream;
}

void BM_Stream_Walk(benchmark::State& state) {
    const std::vector<uint8_t>& stream = MixedStream();
    for (auto _ : state) {
        NQMessageBuffer in;
        in.Receive(stream.data(), stream.size());
        int messages = 0;
        while (in.NextMsg()) ++messages;
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
    state.counters["messages"] = kStreamMessages;
}
BENCHMARK(BM_Stream_Walk);

void BM_Stream_WalkAndDecode(benchmark::State& state) {
    const std::vector<uint8_t>& stream = MixedStream();
    MessageValues into;
    for (auto _ : state) {
        NQMessageBuffer in;
        in.Receive(stream.data(), stream.size());
        while (in.NextMsg()) {
            if (const PayloadCodec* codec = PayloadCodecOf(in.MsgType())) {
                benchmark::DoNotOptimize(codec->read(in, into));
            }
        }
        into.guidVersions.Clear();
        into.moduleInfos.Clear();
        into.guids.Clear();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(stream.size()));
}
BENCHMARK(BM_Stream_WalkAndDecode);

}  // namespace
