// Mode: files of random contents and sizes, and markers of random lengths,
// through the checksum and marker functions, against zlib's adler32 as the
// independent reference. The input is split into a file's contents, a marker's
// contents (0 to 8 bytes, or none at all) and a running start value; every
// answer must be exactly what the reference or the marker's first bytes say.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>


#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/crc_marker.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/unique_folder.h"

namespace {

// One folder for the whole run: files are rewritten for every input.
const std::string& Folder() {
    static const std::string folder = ktutils::test::MakeUniqueFolder("ktutils-fuzz-").string();
    return folder;
}

void Write(const std::string& path, const uint8_t* bytes, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    KTUTILS_FUZZ_CHECK(file != nullptr);
    KTUTILS_FUZZ_CHECK(size == 0 || std::fwrite(bytes, 1, size, file) == size);
    KTUTILS_FUZZ_CHECK(std::fclose(file) == 0);
}

unsigned int Reference(unsigned long start, const uint8_t* bytes, std::size_t size) {
    return static_cast<unsigned int>(::adler32(start, bytes, static_cast<uInt>(size)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    // Byte 0: the marker's length (9 and above: no marker). Bytes 1-4: a
    // running value for the continued form. The rest: the marker, then the file.
    const std::size_t markerByte = data[0] % 10;
    const bool hasMarker = markerByte <= 8;
    const std::size_t markerSize = hasMarker ? markerByte : 0;
    unsigned long running = 0;
    std::memcpy(&running, data + 1, 4);
    const uint8_t* rest = data + 5;
    std::size_t restSize = size - 5;
    if (markerSize > restSize) return 0;
    const uint8_t* marker = rest;
    const uint8_t* contents = rest + markerSize;
    const std::size_t contentsSize = restSize - markerSize;

    const std::string path = Folder() + "/file.bin";
    const std::string markerPath = path + ".crc";
    Write(path, contents, contentsSize);
    std::remove(markerPath.c_str());
    if (hasMarker) Write(markerPath, marker, markerSize);

    const unsigned int whole = Reference(::adler32(0, nullptr, 0), contents, contentsSize);
    const char* text = reinterpret_cast<const char*>(contents);
    const int length = static_cast<int>(contentsSize);
    KTUTILS_FUZZ_CHECK(ComputeCRC(path.c_str()) == whole);
    KTUTILS_FUZZ_CHECK(ComputeCRC(text, length) == whole);
    KTUTILS_FUZZ_CHECK(ComputeCRC(running, text, length) == Reference(running, contents, contentsSize));

    // A marker's first four bytes, least significant first; missing ones are 0.
    unsigned int stored = 0;
    for (std::size_t i = 0; i < markerSize && i < 4; ++i) stored |= static_cast<unsigned int>(marker[i]) << (8 * i);
    int fromMarker = -1;
    const unsigned int looked = GetFileCRC(path.c_str(), &fromMarker);
    KTUTILS_FUZZ_CHECK(looked == (hasMarker ? stored : whole));
    KTUTILS_FUZZ_CHECK(fromMarker == (hasMarker ? 1 : 0));
    KTUTILS_FUZZ_CHECK(GetFileCRC2(path.c_str()) == (hasMarker ? stored : 0u));

    // Writing the computed value makes both readers agree with the reference.
    KTUTILS_FUZZ_CHECK(CreateFileCRCMarker(path.c_str(), whole) == 1);
    KTUTILS_FUZZ_CHECK(GetFileCRC2(path.c_str()) == whole);
    KTUTILS_FUZZ_CHECK(WriteFileInfo(path.c_str(), whole, static_cast<int>(running)) == 1);
    KTUTILS_FUZZ_CHECK(GetFileCRC(path.c_str(), nullptr) == whole);
    return 0;
}
