// Writes the tests' small PE image to a file, for the signing fixtures:
// make-pe-image pe32|pe32+ <output>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tests/pe_image_writer.h"

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "pe32") != 0 && std::strcmp(argv[1], "pe32+") != 0)) {
        std::fprintf(stderr, "usage: make-pe-image pe32|pe32+ <output>\n");
        return 2;
    }
    const auto image = ktutils::test::WritePeImage(std::strcmp(argv[1], "pe32+") == 0);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return out.good() ? 0 : 1;
}
