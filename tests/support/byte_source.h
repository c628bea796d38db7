#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Draws values from a run of untrusted bytes, in the buffer's own widths and
// byte order, so that a payload the buffer wrote, read back through a
// ByteSource, gives the same values the encoder was handed. An exhausted
// source yields zeros and empty texts: every input, however short, maps to
// some value and a harness never has to reject one.
namespace ktutils::detail {

class ByteSource {
public:
    ByteSource(const uint8_t* data, std::size_t size) noexcept : at_(data), left_(size) {}

    std::size_t Left() const noexcept { return left_; }
    const uint8_t* Data() const noexcept { return at_; }

    uint8_t U8() noexcept { return left_ ? (--left_, *at_++) : 0; }

    uint16_t U16() noexcept {
        const uint16_t low = U8();
        return static_cast<uint16_t>(low | (U8() << 8));
    }

    uint32_t U32() noexcept {
        const uint32_t low = U16();
        return low | (static_cast<uint32_t>(U16()) << 16);
    }

    // Up to `count` bytes into `out`; what the source lacks stays zero.
    void Bytes(uint8_t* out, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; ++i) out[i] = U8();
    }

    // The bytes up to the next zero (consumed with it) or the end, capped at
    // `maxLength` so that one text cannot take the whole input.
    std::string Text(std::size_t maxLength) {
        std::string text;
        while (left_ && text.size() < maxLength) {
            const uint8_t c = U8();
            if (c == 0) break;
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

private:
    const uint8_t* at_;
    std::size_t left_;
};

}  // namespace ktutils::detail
