#include "ktutils/checksum/crc_marker.h"

#include "ktutils/checksum/compute_crc.h"
#include "ktutils/host/mqmath/mq_allocator.h"
#include "ktutils/host/mqmath/mq_file.h"
#include "ktutils/host/mqmath/xstring.h"

namespace {

// A file's marker name, "<path>.crc", in a scratch string that goes back to
// the allocator when this goes, on every path. Each function makes it before
// its MqFile, so the marker is closed before the string is given back.
class MarkerName {
public:
    explicit MarkerName(const char* path) : m_text(MqAllocator::Instance().AllocateScratchString()) {
        try {
            *m_text = path;
            *m_text << ".crc";
        } catch (...) {
            MqAllocator::Instance().ReleaseScratchString(m_text);
            throw;
        }
    }
    ~MarkerName() { MqAllocator::Instance().ReleaseScratchString(m_text); }
    MarkerName(const MarkerName&) = delete;
    MarkerName& operator=(const MarkerName&) = delete;

    const char* Get() const noexcept {
        const char* text = m_text->GetBuffer();
        return text != nullptr ? text : "";
    }

private:
    XString* m_text;
};

// Markers are little-endian on every host.
unsigned int ReadStoredChecksum(MqFile& marker) {
    // Preset to 0: a marker shorter than 4 bytes fills only the low bytes.
    unsigned char bytes[4] = {0, 0, 0, 0};
    marker.Read(bytes, 4);
    return static_cast<unsigned int>(bytes[0]) | static_cast<unsigned int>(bytes[1]) << 8 |
           static_cast<unsigned int>(bytes[2]) << 16 | static_cast<unsigned int>(bytes[3]) << 24;
}

void WriteLittleEndian(MqFile& marker, unsigned int value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    marker.Write(bytes, 4);
}

// Bit 15 of the runtime's mode word marks a regular file, and is all we ask.
constexpr unsigned int kRegularFileBit = 0x8000;

}  // namespace

unsigned int GetFileCRC(const char* path, int* fromMarker) {
    if (fromMarker != nullptr) *fromMarker = 0;
    const MarkerName name(path);
    MqFile marker;
    if (marker.Open(name.Get(), MqFile::ReadExisting)) {
        const unsigned int stored = ReadStoredChecksum(marker);
        if (fromMarker != nullptr) *fromMarker = 1;
        return stored;
    }
    return ComputeCRC(path);
}

unsigned int GetFileCRC2(const char* path) {
    if (path == nullptr) return 0;
    if ((MqFile::GetFileMode(path) & kRegularFileBit) == 0) return 0;
    const MarkerName name(path);
    MqFile marker;
    if (!marker.Open(name.Get(), MqFile::ReadExisting)) return 0;
    return ReadStoredChecksum(marker);
}

int CreateFileCRCMarker(const char* path, unsigned int crc) {
    const MarkerName name(path);
    MqFile marker;
    if (!marker.Open(name.Get(), MqFile::WriteReplace)) return 0;
    WriteLittleEndian(marker, crc);
    return 1;
}

int WriteFileInfo(const char* path, unsigned int crc, int info) {
    const MarkerName name(path);
    MqFile marker;
    if (!marker.Open(name.Get(), MqFile::WriteReplace)) return 0;
    WriteLittleEndian(marker, crc);
    WriteLittleEndian(marker, static_cast<unsigned int>(info));
    return 1;
}
