#include "ktutils/checksum/compute_crc.h"

#include "ktutils/checksum/detail/adler32.h"
#include "ktutils/host/mqmath/mq_file.h"
#include "ktutils/host/mqmath/mq_scratch_block.h"

namespace {

const unsigned char* Bytes(const char* data) { return reinterpret_cast<const unsigned char*>(data); }

// A negative length would reach zlib as a count near 4 GiB: it reads nothing.
unsigned int Length(int length) { return length > 0 ? static_cast<unsigned int>(length) : 0u; }

// A piece of a file: small enough to stay in the L2 cache between the read
// and the checksum, large enough that the read calls cost nothing.
constexpr unsigned int kPieceBytes = 256u << 10;

}  // namespace

unsigned int InitComputeCRC() {
    // zlib's answer for a null buffer is the start value, by definition.
    return static_cast<unsigned int>(ktutils::detail::Adler32(0, nullptr, 0));
}

unsigned int ComputeCRC(const char* data, int length) {
    return static_cast<unsigned int>(ktutils::detail::Adler32(InitComputeCRC(), Bytes(data), Length(length)));
}

unsigned int ComputeCRC(unsigned long running, const char* data, int length) {
    return static_cast<unsigned int>(ktutils::detail::Adler32(running, Bytes(data), Length(length)));
}

unsigned int ComputeCRC(const char* path) {
    MqFile file;
    if (!file.Open(path, MqFile::ReadExisting)) return 0;
    const unsigned int size = file.Size();
    // Made after the file, so gone before it: the block goes back first, then
    // the file closes, on every path.
    MqScratchBlock block(size);
    auto* memory = static_cast<unsigned char*>(block.Memory());
    // With no block, a non-empty file reads nothing and comes up short.
    if (memory == nullptr) return file.Read(memory, size) == size ? InitComputeCRC() : 0;
    // Read in pieces into the start of the block and checksummed at once,
    // while each piece is still in the cache: the bytes cross memory once, as
    // in a plain read loop, and only the first piece of the block is ever
    // touched, so a large file costs no page faults and leaves nothing
    // resident.
    unsigned long checksum = InitComputeCRC();
    unsigned int done = 0;
    while (done < size) {
        const unsigned int piece = size - done < kPieceBytes ? size - done : kPieceBytes;
        const unsigned int got = file.Read(memory, piece);
        checksum = ktutils::detail::Adler32(checksum, memory, got);
        done += got;
        if (got != piece) break;  // the file ended early: a short read, as before
    }
    return done == size ? static_cast<unsigned int>(checksum) : 0;
}
