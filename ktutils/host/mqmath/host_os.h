#pragma once

#include <cstddef>
#include <cstdint>

#include "ktutils/mqmath_export.h"

namespace ktutils::detail {

// What the runtime needs to know about an open file or a path, in a form that
// every platform can fill in.
struct FileStatus {
    // SymbolicLink only from StatusOfName, which looks at a name without following it.
    enum class Kind { Regular, Directory, CharacterDevice, BlockDevice, Fifo, SymbolicLink, Other };
    Kind kind = Kind::Other;
    std::uint64_t size = 0;         // bytes; meaningful for regular files
    unsigned int permissions = 0;  // the nine rwx bits
    std::uint32_t owner = 0;       // user and group ids; 0 where the OS has none
    std::uint32_t group = 0;
    std::uint64_t device = 0;      // with `inode`, which file this is; 0 when unknown
    std::uint64_t inode = 0;
};

// The one seam through which MqFile and MqAllocator reach the operating
// system. The default is the platform's own (POSIX here; a Windows one built on
// CreateFile/ReadFile/WriteFile/MoveFileEx/VirtualAlloc slots in beside it);
// tests install their own to refuse an open, cut a read short or throw.
//
// Handles are opaque integers: a file descriptor on POSIX, a HANDLE's value on
// Windows. kInvalidHandle marks a refusal.
class MQMATH_EXPORT HostOs {
public:
    using Handle = std::intptr_t;
    static constexpr Handle kInvalidHandle = -1;

    virtual ~HostOs() = default;

    // An existing file, for reading from its start. Must never block: a FIFO
    // without a writer still opens (and is then refused by its status).
    virtual Handle OpenForReading(const char* path) = 0;
    // A file that must not exist yet, created for writing; fails when the
    // name is taken, by anything, a dangling link included.
    virtual Handle CreateExclusive(const char* path) = 0;
    virtual bool StatusOf(Handle file, FileStatus* status) = 0;
    // Follows links; false when nothing is there.
    virtual bool StatusOfPath(const char* path, FileStatus* status) = 0;
    // What the name itself is, a link not followed. Absent: nothing by that
    // name (or no such folder). Refused: the name cannot be looked up at all,
    // being too long for the file system, or behind a folder that may not
    // be searched.
    enum class Lookup { Found, Absent, Refused };
    virtual Lookup StatusOfName(const char* path, FileStatus* status) = 0;
    // One transfer: may move fewer bytes than asked; -1 on error.
    virtual std::int64_t Read(Handle file, void* buffer, std::size_t count) = 0;
    virtual std::int64_t Write(Handle file, const void* bytes, std::size_t count) = 0;
    // The written bytes on the device before the name moves to them.
    virtual bool Flush(Handle file) = 0;
    virtual bool Close(Handle file) = 0;
    // Replaces `to` atomically when it exists.
    virtual bool Rename(const char* from, const char* to) = 0;
    virtual bool Remove(const char* path) = 0;

    // What a replacement needs so that it lands where, and as, an in-place
    // write would.
    // The OS's own verdict (access rules, read-only mounts) on writing the
    // existing file at `path` in place.
    virtual bool MayWrite(const char* path) = 0;
    // A file for writing in place, created when absent, never emptied; a
    // link at `path` is followed by the OS's open alone, with every check it
    // makes on the way.
    virtual Handle OpenForWriting(const char* path) = 0;
    // A new file with no name yet, on the file system and in the folder that
    // `path` would be in; kInvalidHandle where the OS, the file system or the
    // folder offers none.
    virtual Handle CreateUnnamed(const char* path) = 0;
    // Gives an unnamed file the name `path`; fails when the name is taken,
    // never replacing what is there.
    virtual bool Link(Handle file, const char* path) = 0;
    // Gives the open file the owner, group and permission bits of `like`.
    virtual bool Adopt(Handle file, const FileStatus& like) = 0;
    virtual bool Truncate(Handle file, std::uint64_t length) = 0;

    // Zero-filled pages for a scratch block, or null.
    virtual void* MapPages(std::size_t bytes, bool hugePages) = 0;
    virtual void UnmapPages(void* pages, std::size_t bytes) = 0;
};

// The platform's implementation: lives as long as the process.
MQMATH_EXPORT HostOs& NativeHostOs();

// The seam in use. Installing null puts the native one back; the previous one
// is returned. An installed object must outlive every file opened through it
// and every scratch block mapped through it (MqAllocator::Trim() unmaps the
// cached ones).
MQMATH_EXPORT HostOs& CurrentHostOs();
MQMATH_EXPORT HostOs* InstallHostOs(HostOs* os);

}  // namespace ktutils::detail
