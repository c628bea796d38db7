#pragma once

#include <cstdint>
#include <string>

namespace ktutils::tool {

// The Adler-32 checksum of a file's contents, or why it could not be had.
struct FileChecksum {
    bool ok = false;
    unsigned int checksum = 0;
    int error = 0;  // errno of the failed open or read when !ok
};

// Streams the file at `path` through InitComputeCRC() and the running
// ComputeCRC() in fixed-size pieces, so memory does not grow with the file
// and files of 4 GiB and more have an answer too (where ComputeCRC(path)
// gives 0). A large file's progress is drawn on standard error when that is
// a terminal, under `label`.
FileChecksum ChecksumFile(const std::string& path, const std::string& label);

// How ChecksumOpenFile reads a regular file: mapped where the page cache
// holds it in large pages and read elsewhere, or one way throughout.
enum class ReadWay { Fastest, Mapped, Read };

// The same over the open file `fd` from its start, `size` being the length
// it had when opened (0 when not a regular file, which is then read). A
// mapped file that turns out shorter than `size` (it shrank meanwhile) is
// read instead, so the answer is always what a read to its end gives, never
// a crash.
FileChecksum ChecksumOpenFile(int fd, std::uint64_t size, const std::string& label,
                              ReadWay way = ReadWay::Fastest);

// The same over what remains of standard input.
FileChecksum ChecksumStandardInput(const std::string& label);

}  // namespace ktutils::tool
