#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktutils::test {

inline constexpr std::size_t kPeHeaderOffset = 0x80;  // e_lfanew; for tests that edit the images
inline constexpr std::size_t kOptionalHeaderOffset = kPeHeaderOffset + 4 + 20;
inline constexpr std::size_t kImageSize = 0x600;

// A small unsigned console program that returns 0, PE32 (i386) or PE32+ (x64): 16 data directories,
// 0x200 bytes of headers, .text at 0x200 and .data at 0x400, of 0x200 bytes each.
std::vector<std::uint8_t> WritePeImage(bool pe32Plus);

void PutU16(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t value);
void PutU32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value);

}  // namespace ktutils::test
