#include "ktutils/checksum/compute_crc.h"

#include "ktutils/checksum/detail/adler32.h"
#include "ktutils/host/mqmath/mq_file.h"
#include "ktutils/host/mqmath/mq_scratch_block.h"

namespace {

const unsigned char* Bytes(const char* data) { return reinterpret_cast<const unsigned char*>(data); }

// A negative length would reach zlib as a count near 4 GiB: it reads nothing.
unsigned int Length(int length) { return length > 0 ? static_cast<unsigned int>(length) : 0u; }

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
    // The whole file in one read and one checksum call, as the platform's
    // programs expect of this call (memory use equals the file's size; a
    // caller that wants a bounded footprint continues a running checksum
    // over pieces of its own). With no block, a non-empty file reads nothing
    // and comes up short.
    if (file.Read(memory, size) != size) return 0;
    return static_cast<unsigned int>(ktutils::detail::Adler32(InitComputeCRC(), memory, size));
}
