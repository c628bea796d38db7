// The peer: the headline content as a protobuf message (bench/handshake.proto),
// serialised and parsed, in the same binary as the codec's benchmarks.
#include <benchmark/benchmark.h>

#include <string>

#include "handshake.pb.h"  // generated from bench/handshake.proto
#include "bench/headline.h"
#include "tests/support/payload_codecs.h"

namespace {

using ktutils::detail::kHeadlinePayloadBytes;

ktutils::bench::ChallengeConnect HeadlineMessage() {
    const ktutils::detail::MessageValues v = ktutils::detail::RichValues();
    ktutils::bench::ChallengeConnect message;
    message.set_challenge(v.challenge);
    message.set_string1(v.string1.CStr());
    message.set_string2(v.string2.CStr());
    message.set_version(static_cast<uint32_t>(v.version.parts[0]) |
                        (static_cast<uint32_t>(v.version.parts[1]) << 8) |
                        (static_cast<uint32_t>(v.version.parts[2]) << 16) |
                        (static_cast<uint32_t>(v.version.parts[3]) << 24));
    for (const KTUGuidVersion& m : v.guidVersions) {
        ktutils::bench::GuidVersion* module = message.add_modules();
        module->set_id1(m.guid.id1);
        module->set_id2(m.guid.id2);
        module->set_version(m.version);
    }
    return message;
}

void BM_Headline_ProtobufSerialize(benchmark::State& state) {
    const ktutils::bench::ChallengeConnect message = HeadlineMessage();
    std::string wire;
    for (auto _ : state) {
        benchmark::DoNotOptimize(message.SerializeToString(&wire));
    }
    state.counters["wire_bytes"] = static_cast<double>(wire.size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeadlinePayloadBytes));
}
BENCHMARK(BM_Headline_ProtobufSerialize);

// Parsing into one message kept across iterations: protobuf's fast path,
// which reuses the strings and module objects of the parse before.
void BM_Headline_ProtobufParse(benchmark::State& state) {
    const std::string wire = HeadlineMessage().SerializeAsString();
    ktutils::bench::ChallengeConnect message;
    for (auto _ : state) {
        benchmark::DoNotOptimize(message.ParseFromString(wire));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeadlinePayloadBytes));
}
BENCHMARK(BM_Headline_ProtobufParse);

// Parsing into a fresh message each time: every string and module allocated,
// as the codec's decoder allocates every list node.
void BM_Headline_ProtobufParseFresh(benchmark::State& state) {
    const std::string wire = HeadlineMessage().SerializeAsString();
    for (auto _ : state) {
        ktutils::bench::ChallengeConnect message;
        benchmark::DoNotOptimize(message.ParseFromString(wire));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kHeadlinePayloadBytes));
}
BENCHMARK(BM_Headline_ProtobufParseFresh);

}  // namespace
