#include "tests/pe_image_writer.h"

#include <cstring>

namespace ktutils::test {
namespace {

void PutU64(std::vector<std::uint8_t>& image, std::size_t offset, std::uint64_t value) {
    PutU32(image, offset, static_cast<std::uint32_t>(value));
    PutU32(image, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

void PutSection(std::vector<std::uint8_t>& image, std::size_t header, const char* name, std::uint32_t virtualAddress,
                std::uint32_t rawOffset, std::uint32_t characteristics) {
    std::memcpy(image.data() + header, name, std::strlen(name));
    PutU32(image, header + 8, 0x100);  // VirtualSize
    PutU32(image, header + 12, virtualAddress);
    PutU32(image, header + 16, static_cast<std::uint32_t>(kSectionRawSize));
    PutU32(image, header + 20, rawOffset);
    PutU32(image, header + 36, characteristics);
}

}  // namespace

void PutU16(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t value) {
    image.at(offset) = static_cast<std::uint8_t>(value);
    image.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) {
    PutU16(image, offset, static_cast<std::uint16_t>(value));
    PutU16(image, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::vector<std::uint8_t> WritePeImage(bool pe32Plus) {
    std::vector<std::uint8_t> image(kImageSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    PutU32(image, 0x3C, static_cast<std::uint32_t>(kPeHeaderOffset));

    std::memcpy(image.data() + kPeHeaderOffset, "PE\0\0", 4);
    const std::size_t coff = kPeHeaderOffset + 4;
    const std::uint16_t optionalHeaderSize = pe32Plus ? 240 : 224;  // fixed part + 16 directories
    PutU16(image, coff + 0, pe32Plus ? 0x8664 : 0x014C);           // Machine
    PutU16(image, coff + 2, 2);                                     // NumberOfSections
    PutU16(image, coff + 16, optionalHeaderSize);
    PutU16(image, coff + 18, pe32Plus ? 0x0022 : 0x0102);  // executable, large-address-aware / 32-bit

    const std::size_t opt = kOptionalHeaderOffset;
    PutU16(image, opt + 0, pe32Plus ? 0x20B : 0x10B);
    PutU32(image, opt + 4, static_cast<std::uint32_t>(kSectionRawSize));  // SizeOfCode
    PutU32(image, opt + 8, static_cast<std::uint32_t>(kSectionRawSize));  // SizeOfInitializedData
    PutU32(image, opt + 16, 0x1000);                                      // AddressOfEntryPoint
    PutU32(image, opt + 20, 0x1000);                                      // BaseOfCode
    if (pe32Plus) {
        PutU64(image, opt + 24, 0x140000000ull);  // ImageBase
    } else {
        PutU32(image, opt + 24, 0x2000);  // BaseOfData
        PutU32(image, opt + 28, 0x400000);
    }
    PutU32(image, opt + 32, 0x1000);  // SectionAlignment
    PutU32(image, opt + 36, 0x200);   // FileAlignment
    PutU16(image, opt + 40, 6);       // MajorOperatingSystemVersion
    PutU16(image, opt + 48, 6);       // MajorSubsystemVersion
    PutU32(image, opt + 56, 0x3000);  // SizeOfImage
    PutU32(image, opt + 60, static_cast<std::uint32_t>(kSizeOfHeaders));
    PutU16(image, opt + 68, 3);  // Subsystem: console
    PutU16(image, opt + 70, 0x8140);  // DllCharacteristics: dynamic base, NX, terminal-server aware
    if (pe32Plus) {
        PutU64(image, opt + 72, 0x100000);  // stack reserve, commit, heap reserve, commit
        PutU64(image, opt + 80, 0x1000);
        PutU64(image, opt + 88, 0x100000);
        PutU64(image, opt + 96, 0x1000);
        PutU32(image, opt + 108, 16);  // NumberOfRvaAndSizes
    } else {
        PutU32(image, opt + 72, 0x100000);
        PutU32(image, opt + 76, 0x1000);
        PutU32(image, opt + 80, 0x100000);
        PutU32(image, opt + 84, 0x1000);
        PutU32(image, opt + 92, 16);
    }

    const std::size_t sections = opt + optionalHeaderSize;
    PutSection(image, sections, ".text", 0x1000, static_cast<std::uint32_t>(kTextSectionOffset), 0x60000020);
    PutSection(image, sections + 40, ".data", 0x2000, static_cast<std::uint32_t>(kDataSectionOffset), 0xC0000040);

    // xor eax, eax; ret
    image[kTextSectionOffset + 0] = 0x31;
    image[kTextSectionOffset + 1] = 0xC0;
    image[kTextSectionOffset + 2] = 0xC3;
    for (std::size_t i = 0; i < kSectionRawSize; ++i)
        image[kDataSectionOffset + i] = static_cast<std::uint8_t>(i * 7 + 1);
    return image;
}

}  // namespace ktutils::test
