#include "ktutils/host/mqmath/mq_file.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <string>
#include <utility>

namespace {

using ktutils::detail::FileStatus;
using ktutils::detail::HostOs;

// The one temporary name of a replacement of `name`: the same length, so
// that it fits wherever the name does, with the last character changed
// ("x.crc" -> "x.cr~"). Being one per name, a temporary left by an
// interrupted writer is found and removed by the next writer of that name.
XString TemporaryNameFor(const XString& name) {
    std::string temporary(name.CStr(), name.GetLength());
    temporary.back() = temporary.back() == '~' ? '#' : '~';
    return XString(temporary.c_str());
}

// What an in-place open of an existing file for writing would accept: a
// regular file the OS lets the caller write, with a write bit set for
// someone, so a read-only file stays read-only even for a caller (root) whom
// the OS would let through.
bool MayReplace(HostOs& os, const char* name, const FileStatus& existing) {
    return existing.kind == FileStatus::Kind::Regular && (existing.permissions & 0222u) != 0 &&
           os.MayWrite(name);
}

// The named temporary, created exclusively; one left behind by an
// interrupted writer is removed once and the creation tried again.
HostOs::Handle CreateNamed(HostOs& os, const XString& temporary) {
    HostOs::Handle handle = os.CreateExclusive(temporary.CStr());
    if (handle != HostOs::kInvalidHandle) return handle;
    if (!os.Remove(temporary.CStr())) return HostOs::kInvalidHandle;
    return os.CreateExclusive(temporary.CStr());
}

bool SameFile(const FileStatus& a, const FileStatus& b) {
    // Where the OS names no inode (a path's status on Windows), the
    // unshared open already keeps other writers off the file.
    if (a.inode == 0 || b.inode == 0) return true;
    return a.device == b.device && a.inode == b.inode;
}

unsigned int ModeWord(const FileStatus& status) {
    unsigned int type = 0;
    switch (status.kind) {
        case FileStatus::Kind::Regular: type = 0x8000; break;
        case FileStatus::Kind::Directory: type = 0x4000; break;
        case FileStatus::Kind::CharacterDevice: type = 0x2000; break;
        case FileStatus::Kind::BlockDevice: type = 0x6000; break;
        case FileStatus::Kind::Fifo: type = 0x1000; break;
        case FileStatus::Kind::Other: type = 0; break;
    }
    return type | (status.permissions & 0777u);
}

}  // namespace

MqFile::~MqFile() {
    if (m_handle == HostOs::kInvalidHandle) return;
    if (m_mode == ReadExisting) {
        m_os->Close(m_handle);
        return;
    }
    // Unwinding means the writer did not finish: its bytes must not replace a
    // whole file.
    const bool finished = !m_failed && std::uncaught_exceptions() <= m_uncaughtAtOpen;
    const HostOs::Handle handle = std::exchange(m_handle, HostOs::kInvalidHandle);
    const char* temporary = m_temporary.CStr();
    switch (m_way) {
        case WriteWay::InPlace:
            if (finished) {
                m_os->Truncate(handle, m_size);
                m_os->Flush(handle);
            }
            m_os->Close(handle);
            return;
        case WriteWay::Unnamed: {
            bool named = finished && m_os->Flush(handle);
            if (named && !m_os->Link(handle, temporary)) {
                // Left by an interrupted writer, or another writer's about to
                // be renamed: either way the name is free to take.
                m_os->Remove(temporary);
                named = m_os->Link(handle, temporary);
            }
            m_os->Close(handle);
            if (named && !m_os->Rename(temporary, m_name.CStr())) m_os->Remove(temporary);
            return;
        }
        case WriteWay::Named: {
            FileStatus mine, there;
            const bool ours = m_os->StatusOf(handle, &mine) && m_os->StatusOfPath(temporary, &there) &&
                              SameFile(mine, there);
            // Not ours: another writer removed it as stale and writes its own.
            if (!ours) {
                m_os->Close(handle);
                return;
            }
            const bool flushed = finished && m_os->Flush(handle);
            const bool closed = m_os->Close(handle);
            if (!flushed || !closed || !m_os->Rename(temporary, m_name.CStr())) m_os->Remove(temporary);
            return;
        }
    }
}

int MqFile::Open(const char* name, OpenMode mode) {
    if (name == nullptr || m_handle != HostOs::kInvalidHandle) return 0;
    HostOs& os = ktutils::detail::CurrentHostOs();

    if (mode == ReadExisting) {
        const HostOs::Handle handle = os.OpenForReading(name);
        if (handle == HostOs::kInvalidHandle) return 0;
        FileStatus status;
        if (!os.StatusOf(handle, &status) || status.kind != FileStatus::Kind::Regular ||
            status.size > std::numeric_limits<unsigned int>::max()) {
            os.Close(handle);
            return 0;
        }
        m_os = &os;
        m_handle = handle;
        m_mode = mode;
        m_size = status.size;
        return 1;
    }
    if (mode != WriteReplace || *name == '\0') return 0;

    // Every name is built before a file exists: nothing after the creation
    // may throw and leave it behind.
    XString target;
    if (!os.FinalName(name, &target) || target.IsEmpty() || target.CStr()[target.GetLength() - 1] == '/')
        return 0;
    XString temporary = TemporaryNameFor(target);
    FileStatus existing;
    const bool exists = os.StatusOfPath(target.CStr(), &existing);
    if (exists && !MayReplace(os, target.CStr(), existing)) return 0;

    WriteWay way = WriteWay::Unnamed;
    HostOs::Handle handle = os.CreateUnnamed(target.CStr());
    if (handle == HostOs::kInvalidHandle) {
        way = WriteWay::Named;
        handle = CreateNamed(os, temporary);
    }
    // A replacement that cannot keep the owner would change the file as an
    // in-place write never does.
    if (handle != HostOs::kInvalidHandle && exists && !os.Adopt(handle, existing)) {
        os.Close(handle);
        if (way == WriteWay::Named) os.Remove(temporary.CStr());
        handle = HostOs::kInvalidHandle;
    }
    if (handle == HostOs::kInvalidHandle) {
        // The folder refuses new names (or the owner cannot be kept): an
        // existing file is still written, in place.
        if (!exists) return 0;
        way = WriteWay::InPlace;
        handle = os.OpenForWriting(target.CStr());
        if (handle == HostOs::kInvalidHandle) return 0;
        FileStatus opened;
        if (!os.StatusOf(handle, &opened) || opened.kind != FileStatus::Kind::Regular) {
            os.Close(handle);
            return 0;
        }
    }
    m_os = &os;
    m_handle = handle;
    m_mode = mode;
    m_way = way;
    m_size = 0;
    m_failed = false;
    m_uncaughtAtOpen = std::uncaught_exceptions();
    m_name = std::move(target);
    m_temporary = std::move(temporary);
    return 1;
}

unsigned int MqFile::Size() {
    return m_handle == HostOs::kInvalidHandle ? 0 : static_cast<unsigned int>(m_size);
}

unsigned int MqFile::Read(void* buffer, unsigned int count) {
    if (m_handle == HostOs::kInvalidHandle || m_mode != ReadExisting || buffer == nullptr) return 0;
    auto* next = static_cast<unsigned char*>(buffer);
    unsigned int done = 0;
    while (done < count) {
        const std::int64_t got = m_os->Read(m_handle, next + done, count - done);
        if (got <= 0) break;  // the end, or an error: the short count tells
        done += static_cast<unsigned int>(std::min<std::int64_t>(got, count - done));
    }
    return done;
}

unsigned int MqFile::Write(const void* bytes, unsigned int count) {
    if (m_handle == HostOs::kInvalidHandle || m_mode != WriteReplace || m_failed) return 0;
    if (bytes == nullptr && count != 0) return 0;
    const auto* next = static_cast<const unsigned char*>(bytes);
    unsigned int done = 0;
    while (done < count) {
        const std::int64_t put = m_os->Write(m_handle, next + done, count - done);
        if (put <= 0) {
            m_failed = true;
            break;
        }
        done += static_cast<unsigned int>(std::min<std::int64_t>(put, count - done));
    }
    m_size += done;
    return done;
}

unsigned int MqFile::GetFileMode(const char* path) {
    if (path == nullptr) return 0;
    FileStatus status;
    if (!ktutils::detail::CurrentHostOs().StatusOfPath(path, &status)) return 0;
    return ModeWord(status);
}
