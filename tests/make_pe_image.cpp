// make-pe-image pe32|pe32+ <output>: the tests' PE image, for the signing fixtures.
#include <fstream>
#include <string>

#include "tests/pe_image_writer.h"

int main(int argc, char** argv) {
    if (argc != 3 || (argv[1] != std::string("pe32") && argv[1] != std::string("pe32+"))) return 2;
    const auto image = ktutils::test::WritePeImage(argv[1] == std::string("pe32+"));
    const auto size = static_cast<std::streamsize>(image.size());
    return std::ofstream(argv[2], std::ios::binary).write(reinterpret_cast<const char*>(image.data()), size) ? 0 : 1;
}
