// Mode: files of any contents and size, and markers of any length, through the checksum and marker
// functions, against zlib's adler32 as the independent reference. Byte 0 gives the marker's length
// (0 to 8; 9: no marker), bytes 1-4 a running start value, the rest the marker, then the file.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/checksum/crc_marker.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // One folder for the whole run: the files are rewritten for every input.
    static const std::string path = MakeUniqueFolder("ktutils-fuzz-").string() + "/file.bin";
    if (size < 5) return 0;
    const bool hasMarker = data[0] % 10 <= 8;
    const std::size_t markerSize = hasMarker ? data[0] % 10 : 0;
    if (markerSize > size - 5) return 0;
    unsigned long running = 0;
    std::memcpy(&running, data + 1, 4);
    const uint8_t *marker = data + 5, *contents = marker + markerSize;
    const auto length = static_cast<unsigned int>(size - 5 - markerSize);
    WriteBytes(path, {contents, contents + length});
    std::remove((path + ".crc").c_str());
    if (hasMarker) WriteBytes(path + ".crc", {marker, marker + markerSize});

    const auto whole = static_cast<unsigned int>(::adler32(1, contents, length));
    const char* text = reinterpret_cast<const char*>(contents);
    KTUTILS_FUZZ_CHECK(ComputeCRC(path.c_str()) == whole);
    KTUTILS_FUZZ_CHECK(ComputeCRC(text, static_cast<int>(length)) == whole);
    KTUTILS_FUZZ_CHECK(ComputeCRC(running, text, static_cast<int>(length)) == ::adler32(running, contents, length));

    // A marker's first four bytes, least significant first; missing ones are 0.
    unsigned int stored = 0;
    for (std::size_t i = 0; i < markerSize && i < 4; ++i) stored |= unsigned{marker[i]} << (8 * i);
    int fromMarker = -1;
    KTUTILS_FUZZ_CHECK(GetFileCRC(path.c_str(), &fromMarker) == (hasMarker ? stored : whole) && fromMarker == hasMarker);
    KTUTILS_FUZZ_CHECK(GetFileCRC2(path.c_str()) == (hasMarker ? stored : 0u));
    // Writing the computed value makes both readers agree with the reference.
    KTUTILS_FUZZ_CHECK(CreateFileCRCMarker(path.c_str(), whole) == 1 && GetFileCRC2(path.c_str()) == whole);
    KTUTILS_FUZZ_CHECK(WriteFileInfo(path.c_str(), whole, static_cast<int>(running)) == 1);
    KTUTILS_FUZZ_CHECK(GetFileCRC(path.c_str(), nullptr) == whole);
    return 0;
}
