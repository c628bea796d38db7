#pragma once

#include <cstddef>

#include "tests/support/payload_codecs.h"

// The headline content, shared by the codec and its peers so that all of them
// carry the same values: ChallengeConnect2 with RichValues().
namespace ktutils::detail {

// Bytes of the ChallengeConnect2 payload (frame header excluded) for
// RichValues(): challenge, two texts with their terminators, version, and
// three 32-bit words per module. The memcpy limit copies this many bytes.
constexpr std::size_t kHeadlinePayloadBytes =
    4 + 2 * (kRichTextLength + 1) + 4 + kRichListLength * 12;

}  // namespace ktutils::detail
