#pragma once

#include <cstdint>

#include "ktutils/host/nq2/nq_message_buffer.h"

// The framing discipline that every encoder and decoder of KTUMessage2
// follows, written once so the twenty-four of them cannot drift apart.
namespace ktutils::detail {

// How a message is opened: every type but the two discovery messages passes
// the channel byte 0 before its type; those two pass the type alone.
enum class Opening { Session, Discovery };

inline uint32_t OpenMessage(NQMessageBuffer& buffer, Opening opening, uint16_t type) {
    return opening == Opening::Discovery ? buffer.BeginWriteMsg(type)
                                         : buffer.BeginWriteMsg(0, type);
}

// A message without payload. No handler on purpose: the callers of these
// encoders rely on a buffer exception reaching them, uncancelled.
inline int WriteEmptyMessage(NQMessageBuffer& buffer, Opening opening, uint16_t type) {
    if (OpenMessage(buffer, opening, type) == 0) return 0;
    buffer.EndWriteMsg();
    return 1;
}

// A message with payload: open, let `writePayload` append the fields in wire
// order, seal. A refused opening returns 0 with nothing else called; any
// exception, from the opening and the seal included, cancels the message once
// and returns 0. Only the opening's result steers: a write that returns 0
// does not stop the encoder.
template <class WritePayload>
int WriteMessage(NQMessageBuffer& buffer, Opening opening, uint16_t type,
                 WritePayload&& writePayload) noexcept {
    try {
        if (OpenMessage(buffer, opening, type) == 0) return 0;
        writePayload();
        buffer.EndWriteMsg();
        return 1;
    } catch (...) {
        try {
            buffer.CancelMsg();
        } catch (...) {
            // The message is lost either way; the caller learns it from the 0.
        }
        return 0;
    }
}

// A decoder's body: 1 when `readPayload` completes, 0 on any exception.
// Nothing is rolled back: what was stored before the exception stays.
template <class ReadPayload>
int ReadMessage(ReadPayload&& readPayload) noexcept {
    try {
        readPayload();
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace ktutils::detail
