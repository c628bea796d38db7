// make-pe-image pe32|pe32+ <output>: the tests' PE image, for the signing fixtures.
#include <fstream>
#include <string>

#include "tests/pe_image_writer.h"

int main(int argc, char** argv) {
    if (argc != 3 || (argv[1] != std::string("pe32") && argv[1] != std::string("pe32+"))) return 2;
    const auto image = ktutils::test::WritePeImage(argv[1] == std::string("pe32+"));
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    return out.good() ? 0 : 1;
}
