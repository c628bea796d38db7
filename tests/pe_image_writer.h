#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktutils::test {

// Where the writer puts things, for tests that edit its images.
inline constexpr std::size_t kPeHeaderOffset = 0x80;  // e_lfanew
inline constexpr std::size_t kOptionalHeaderOffset = kPeHeaderOffset + 4 + 20;
inline constexpr std::size_t kSizeOfHeaders = 0x200;
inline constexpr std::size_t kTextSectionOffset = 0x200;
inline constexpr std::size_t kDataSectionOffset = 0x400;
inline constexpr std::size_t kSectionRawSize = 0x200;
inline constexpr std::size_t kImageSize = 0x600;

// A small valid Windows console executable that returns 0: DOS header, PE
// signature, COFF header, a PE32 (i386) or PE32+ (x64) optional header with
// 16 data directories, and two sections (.text, .data) of one file-alignment
// unit each, laid out back to back. Unsigned.
std::vector<std::uint8_t> WritePeImage(bool pe32Plus);

void PutU16(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t value);
void PutU32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value);

}  // namespace ktutils::test
