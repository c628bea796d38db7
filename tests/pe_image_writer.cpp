#include "tests/pe_image_writer.h"

namespace ktutils::test {
namespace {

void Put(std::vector<std::uint8_t>& image, std::size_t offset, int width, std::uint64_t value) {
    for (int i = 0; i < width; ++i) image.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void PutU16(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t value) { Put(image, offset, 2, value); }
void PutU32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t value) { Put(image, offset, 4, value); }

std::vector<std::uint8_t> WritePeImage(bool pe32Plus) {
    std::vector<std::uint8_t> image(kImageSize, 0);
    const std::size_t coff = kPeHeaderOffset + 4, opt = kOptionalHeaderOffset, plus = pe32Plus ? 16 : 0;
    const std::size_t step = pe32Plus ? 8 : 4, text = opt + 224 + plus, data = text + 40;  // section headers
    // {offset, width, value}: "MZ", e_lfanew, "PE"; machine, 2 sections, optional header size, characteristics;
    // magic, code and data sizes, entry point, base of code, (base of data,) image base, alignments, versions,
    // image and header sizes, console, NX; stack and heap; 16 directories; the section headers; xor eax, eax; ret.
    const struct {
        std::size_t offset;
        int width;
        std::uint64_t value;
    } fields[] = {{0, 2, 0x5A4D}, {0x3C, 4, kPeHeaderOffset}, {kPeHeaderOffset, 4, 0x4550},
                  {coff, 2, pe32Plus ? 0x8664u : 0x14Cu}, {coff + 2, 2, 2}, {coff + 16, 2, 224 + plus},
                  {coff + 18, 2, pe32Plus ? 0x22u : 0x102u}, {opt, 2, pe32Plus ? 0x20Bu : 0x10Bu}, {opt + 4, 4, 0x200},
                  {opt + 8, 4, 0x200}, {opt + 16, 4, 0x1000}, {opt + 20, 4, 0x1000},
                  {opt + 24, 8, pe32Plus ? 0x140000000ull : 0x0040000000002000ull}, {opt + 32, 4, 0x1000},
                  {opt + 36, 4, 0x200}, {opt + 40, 2, 6}, {opt + 48, 2, 6}, {opt + 56, 4, 0x3000}, {opt + 60, 4, 0x200},
                  {opt + 68, 2, 3}, {opt + 70, 2, 0x8140}, {opt + 72, 4, 0x100000}, {opt + 72 + step, 4, 0x1000},
                  {opt + 72 + 2 * step, 4, 0x100000}, {opt + 72 + 3 * step, 4, 0x1000}, {opt + 92 + plus, 4, 16},
                  {text, 5, 0x747865742E}, {text + 8, 4, 0x100}, {text + 12, 4, 0x1000}, {text + 16, 4, 0x200},
                  {text + 20, 4, 0x200}, {text + 36, 4, 0x60000020}, {data, 5, 0x617461642E}, {data + 8, 4, 0x100},
                  {data + 12, 4, 0x2000}, {data + 16, 4, 0x200}, {data + 20, 4, 0x400}, {data + 36, 4, 0xC0000040},
                  {0x200, 3, 0xC3C031}};
    for (const auto& f : fields) Put(image, f.offset, f.width, f.value);
    for (std::size_t i = 0; i < 0x200; ++i) image[0x400 + i] = static_cast<std::uint8_t>(i * 7 + 1);
    return image;
}

}  // namespace ktutils::test
