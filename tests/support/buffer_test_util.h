#pragma once

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "ktutils/host/nq2/nq_message_buffer.h"

inline void Feed(NQMessageBuffer& buffer, const std::vector<uint8_t>& bytes) { buffer.Receive(bytes.data(), bytes.size()); }

inline std::vector<uint8_t> Output(const NQMessageBuffer& b) { return {b.OutputData(), b.OutputData() + b.OutputSize()}; }

// A frame header as the buffer lays it out: length, type, channel, form.
inline std::vector<uint8_t> Header(uint32_t length, uint16_t type, uint8_t channel, uint8_t form) {
    return {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), uint8_t(length >> 24),
            uint8_t(type), uint8_t(type >> 8), channel, form};
}

inline std::vector<uint8_t> Join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The kind of the buffer's refusal, failing the test when there is none.
template <class F>
NQBufferError::Kind KindOf(F&& f) {
    try { f(); } catch (const NQBufferError& e) { return e.kind(); }
    ADD_FAILURE() << "expected NQBufferError";
    return NQBufferError::Kind::InvalidArgument;
}
