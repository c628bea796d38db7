#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_check.h"
#include "tests/support/payload_codecs.h"

namespace ktutils::detail {

// The bytes a decoder consumed must be exactly the bytes its encoder writes
// for the values it produced. Called after a decoder returned 1 on the
// current message of `in`, whose whole payload was `payload`. A decoder that
// skipped, invented, reordered or misplaced a value fails this, whatever the
// input was, without the harness knowing what the right values were.
inline void CheckReencodesToConsumedBytes(const PayloadCodec& codec, MessageValues& decoded,
                                          const NQMessageBuffer& in, const uint8_t* payload,
                                          std::size_t size) {
    std::size_t unread = 0;
    for (uint8_t skipped = 0; in.CurrentMsg() != 0; ++unread) in.ReadU8(skipped);
    KTUTILS_FUZZ_CHECK(unread <= size);

    NQMessageBuffer out;
    KTUTILS_FUZZ_CHECK(codec.write(out, decoded) == 1);
    const std::size_t written = out.OutputSize() - NQMessageBuffer::kHeaderSize;
    KTUTILS_FUZZ_CHECK(written == size - unread);
    KTUTILS_FUZZ_CHECK(written == 0 ||
                       std::memcmp(out.OutputData() + NQMessageBuffer::kHeaderSize, payload,
                                   written) == 0);
}

// A frame header as the buffer lays it out (docs/wire-format.md), for
// harnesses that deliver a payload of their own making.
inline void PutHeader(uint8_t* header, uint32_t length, uint16_t type) {
    const uint8_t discovery = type == KTMESSAGETYPE2_SERVERINFO ? 1 : 0;
    const uint8_t bytes[NQMessageBuffer::kHeaderSize] = {
        static_cast<uint8_t>(length),       static_cast<uint8_t>(length >> 8),
        static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24),
        static_cast<uint8_t>(type),         static_cast<uint8_t>(type >> 8),
        0,                                  discovery};
    std::memcpy(header, bytes, sizeof bytes);
}

}  // namespace ktutils::detail
