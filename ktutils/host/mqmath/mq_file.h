#pragma once

#include <cstdint>
#include <string>

#include "ktutils/host/mqmath/host_os.h"
#include "ktutils/host/mqmath/xstring.h"
#include "ktutils/mqmath_export.h"

// The runtime's file: always a local object, closed by its destructor.
//
// Mode 1 opens only what reads as a regular file's contents, and only when its
// length fits in 32 bits: a directory, a FIFO or a device fails to open (and
// never blocks), so no caller can mistake part of a file for all of it.
// Mode 2 writes what an in-place open for writing (created when absent) would
// reach, and fails where that open would: on a directory or another
// non-regular file, on an existing file that the caller may not write or that
// has no write bit at all, on a name too long for the file system. A name
// that is a symbolic link is written in place, through the link, by the OS's
// own open: the link is never read here, so every check the OS makes on
// following it applies. Any other file is replaced whole: the bytes go to a
// new file in the same folder (unnamed where the OS allows it), which, with
// the old file's owner and permissions, takes the name when the file object
// is destroyed, so a reader sees the old contents or the new ones, never a
// mix. Its temporary name is a fresh random one, created or linked only
// where nothing is; a taken name is skipped, never reused, replaced or
// removed. Where the folder refuses new names, or the owner could not be
// kept, an existing file is written in place instead and cut to the bytes
// written; where the replacement fails later (a write, the link, the
// rename), the bytes are written in place then. Only while an exception
// passes does the file keep its old contents.
class MQMATH_EXPORT MqFile {
public:
    enum OpenMode {
        ReadExisting = 1,  // an existing file, read from its start
        WriteReplace = 2,  // written from its start, created when absent
    };

    MqFile() noexcept = default;
    MqFile(const MqFile&) = delete;
    MqFile& operator=(const MqFile&) = delete;
    virtual ~MqFile();

    // Nonzero when open. A file object opens once; other modes fail.
    virtual int Open(const char* name, OpenMode mode);
    // Mode 1: the length when opened. Mode 2: the bytes written so far.
    virtual unsigned int Size();
    // Up to `count` bytes from the current position into `buffer`; fewer only
    // at the end of the file or on an error. A null buffer reads nothing.
    virtual unsigned int Read(void* buffer, unsigned int count);
    // Mode 2 only; the count written.
    virtual unsigned int Write(const void* bytes, unsigned int count);

    // A stat-style mode word: the file-type field uses the common values
    // (0x8000 regular, 0x4000 directory, 0x2000 character device, 0x6000 block
    // device, 0x1000 FIFO; 0 for anything else, such as a socket, so bit 15
    // means "regular file" alone), then the nine permission bits. 0 when
    // nothing is at `path`.
    static unsigned int GetFileMode(const char* path);

private:
    enum class WriteWay { Unnamed, Named, InPlace };

    ktutils::detail::HostOs* m_os = nullptr;  // the seam the file was opened through
    ktutils::detail::HostOs::Handle m_handle = ktutils::detail::HostOs::kInvalidHandle;
    OpenMode m_mode = ReadExisting;
    WriteWay m_way = WriteWay::InPlace;  // mode 2: where the bytes go
    std::uint64_t m_size = 0;
    bool m_failed = false;         // a write failed
    int m_uncaughtAtOpen = 0;      // exceptions in flight when opened
    XString m_name;                // mode 2: the name as given
    std::string m_temporary;       // mode 2: the new file's name before the final one, made fresh in place
    std::string m_bytes;           // mode 2, replacing: every byte asked for, to write in place if need be
};
