#pragma once

#include <cstring>

#include "ktutils/host/mqmath/xstring.h"
#include "ktutils/host/nq2/nq_message_buffer.h"

// Texts and 16-byte blocks: the two field kinds whose bytes the buffer hands
// out by pointer rather than by value.
namespace ktutils::detail {

constexpr uint32_t kBlockSize = 16;

// A string that has never held text goes out as "", never as a null pointer.
inline void WriteText(NQMessageBuffer& buffer, const XString& text) {
    buffer.WriteString(text.CStr());
}

// The handed-out text is copied at once; a buffer that hands out nothing
// leaves the caller's string as it was.
inline void ReadText(const NQMessageBuffer& buffer, XString& text) {
    const char* received = nullptr;
    buffer.ReadString(received);
    if (received != nullptr) text = received;
}

inline void WriteBlock(NQMessageBuffer& buffer, const unsigned char* block) {
    buffer.WriteData(block, kBlockSize);
}

inline void ReadBlock(const NQMessageBuffer& buffer, unsigned char* block) {
    const uint8_t* received = nullptr;
    buffer.ReadData(received, kBlockSize);
    if (received != nullptr) std::memcpy(block, received, kBlockSize);
}

}  // namespace ktutils::detail
