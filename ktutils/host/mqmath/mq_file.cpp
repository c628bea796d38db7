#include "ktutils/host/mqmath/mq_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <limits>
#include <random>
#include <string>
#include <utility>

namespace {

using ktutils::detail::FileStatus;
using ktutils::detail::HostOs;
using Lookup = HostOs::Lookup;

// A replacement's temporary name: in the name's own folder, so that the
// rename stays on one file system, and short, so that it fits wherever the
// name does; the random part is rewritten for every try.
constexpr char kTemporaryStem[] = "crc-";
constexpr char kTemporaryTail[] = ".tmp";
constexpr std::size_t kRandomChars = 12;  // 60 bits: nobody lays out the names ahead
// A fresh name is taken only where someone foresaw it; past a few such
// names, the write goes in place.
constexpr int kNameTries = 8;

std::string TemporaryNameFor(const char* name) {
    const std::string path(name);
#ifdef _WIN32
    const std::size_t folderEnd = path.find_last_of("/\\:");
#else
    const std::size_t folderEnd = path.rfind('/');
#endif
    // npos + 1 is 0: a name without a folder keeps none.
    return path.substr(0, folderEnd + 1) + kTemporaryStem + std::string(kRandomChars, '0') + kTemporaryTail;
}

std::uint64_t FreshBits() {
    // The clock and a counter stand in where the OS gives no entropy: a
    // guessed name costs a retry, never a file.
    static std::atomic<std::uint64_t> calls{0};
    std::uint64_t bits = (calls.fetch_add(1) + 1) * 0x9E3779B97F4A7C15u ^
                         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device device;
        bits ^= static_cast<std::uint64_t>(device()) << 32 ^ device();
    } catch (...) {
    }
    return bits;
}

// Lower case and digits alone, for file systems that ignore case.
void MakeFresh(std::string& temporary) {
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuv";
    std::uint64_t bits = FreshBits();
    const std::size_t at = temporary.size() - (sizeof kTemporaryTail - 1) - kRandomChars;
    for (std::size_t i = 0; i < kRandomChars; ++i, bits >>= 5) temporary[at + i] = kDigits[bits & 31u];
}

// `make` under fresh names until one is free. A name that is taken belongs
// to someone else: it is left as it is and never tried again.
template <class Make>
bool UnderFreshName(HostOs& os, std::string& temporary, Make make) {
    for (int tries = 0; tries < kNameTries; ++tries) {
        MakeFresh(temporary);
        if (make(temporary.c_str())) return true;
        FileStatus taken;
        if (os.StatusOfName(temporary.c_str(), &taken) != Lookup::Found) return false;  // refused, not taken
    }
    return false;
}

// What an in-place open of an existing file for writing would accept: a
// regular file the OS lets the caller write, with a write bit set for
// someone, so a read-only file stays read-only even for a caller (root) whom
// the OS would let through.
bool MayReplace(HostOs& os, const char* name, const FileStatus& existing) {
    return existing.kind == FileStatus::Kind::Regular && (existing.permissions & 0222u) != 0 &&
           os.MayWrite(name);
}

// The file at `name`, opened in place by the OS (links followed by it
// alone), when it is a regular file.
HostOs::Handle OpenInPlace(HostOs& os, const char* name) {
    const HostOs::Handle handle = os.OpenForWriting(name);
    if (handle == HostOs::kInvalidHandle) return handle;
    FileStatus opened;
    if (os.StatusOf(handle, &opened) && opened.kind == FileStatus::Kind::Regular) return handle;
    os.Close(handle);
    return HostOs::kInvalidHandle;
}

bool SameFile(const FileStatus& a, const FileStatus& b) {
    // Where the OS names no inode (a path's status on Windows), the
    // unshared open already keeps other writers off the file.
    if (a.inode == 0 || b.inode == 0) return true;
    return a.device == b.device && a.inode == b.inode;
}

// Whether the temporary name still holds the open file: only then is it the
// writer's own to rename or remove.
bool StillNames(HostOs& os, HostOs::Handle file, const char* temporary) {
    FileStatus mine, there;
    return os.StatusOf(file, &mine) && os.StatusOfName(temporary, &there) == Lookup::Found &&
           SameFile(mine, there);
}

std::uint64_t WriteAll(HostOs& os, HostOs::Handle file, const unsigned char* bytes, std::uint64_t count) {
    std::uint64_t done = 0;
    while (done < count) {
        const std::int64_t put = os.Write(file, bytes + done, static_cast<std::size_t>(count - done));
        if (put <= 0) break;
        done += std::min<std::uint64_t>(static_cast<std::uint64_t>(put), count - done);
    }
    return done;
}

unsigned int ModeWord(const FileStatus& status) {
    unsigned int type = 0;
    switch (status.kind) {
        case FileStatus::Kind::Regular: type = 0x8000; break;
        case FileStatus::Kind::Directory: type = 0x4000; break;
        case FileStatus::Kind::CharacterDevice: type = 0x2000; break;
        case FileStatus::Kind::BlockDevice: type = 0x6000; break;
        case FileStatus::Kind::Fifo: type = 0x1000; break;
        case FileStatus::Kind::SymbolicLink:
        case FileStatus::Kind::Other: type = 0; break;
    }
    return type | (status.permissions & 0777u);
}

}  // namespace

MqFile::~MqFile() {
    if (m_handle == HostOs::kInvalidHandle) return;
    const HostOs::Handle handle = std::exchange(m_handle, HostOs::kInvalidHandle);
    if (m_mode == ReadExisting) {
        m_os->Close(handle);
        return;
    }
    // Unwinding means the writer did not finish and its caller gets no
    // answer: the old contents stay.
    const bool unwinding = std::uncaught_exceptions() > m_uncaughtAtOpen;
    const bool complete = !unwinding && !m_failed;
    const char* temporary = m_temporary.c_str();
    bool replaced = false;
    switch (m_way) {
        case WriteWay::InPlace:
            if (complete) {
                m_os->Truncate(handle, m_size);
                m_os->Flush(handle);
            }
            m_os->Close(handle);
            return;
        case WriteWay::Unnamed: {
            // linkat cannot replace a name, hence the temporary one and the
            // rename; a writer killed between the two leaves it behind.
            const bool named = complete && m_os->Flush(handle) &&
                               UnderFreshName(*m_os, m_temporary, [&](const char* fresh) {
                                   return m_os->Link(handle, fresh);
                               });
            replaced = named && m_os->Rename(temporary, m_name.CStr());
            if (named && !replaced && StillNames(*m_os, handle, temporary)) m_os->Remove(temporary);
            m_os->Close(handle);
            break;
        }
        case WriteWay::Named: {
            // Another's now, when someone moved it away: neither renamed nor
            // removed.
            const bool ours = StillNames(*m_os, handle, temporary);
            const bool flushed = complete && ours && m_os->Flush(handle);
            const bool closed = m_os->Close(handle);
            replaced = flushed && closed && m_os->Rename(temporary, m_name.CStr());
            if (ours && !replaced) m_os->Remove(temporary);
            break;
        }
    }
    if (replaced || unwinding) return;
    // The replacement could not be completed, and the writer has answered
    // that the file opened: the bytes go in place, as an in-place open
    // would have put them.
    const HostOs::Handle inPlace = OpenInPlace(*m_os, m_name.CStr());
    if (inPlace == HostOs::kInvalidHandle) return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_bytes.data());
    if (WriteAll(*m_os, inPlace, bytes, m_bytes.size()) == m_bytes.size()) {
        m_os->Truncate(inPlace, m_bytes.size());
        m_os->Flush(inPlace);
    }
    m_os->Close(inPlace);
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
    XString target(name);
    std::string temporary = TemporaryNameFor(name);
    FileStatus existing;
    const Lookup lookup = os.StatusOfName(name, &existing);
    if (lookup == Lookup::Refused) return 0;
    bool exists = lookup == Lookup::Found;

    WriteWay way = WriteWay::InPlace;
    HostOs::Handle handle = HostOs::kInvalidHandle;
    if (exists && existing.kind == FileStatus::Kind::SymbolicLink) {
        // Replacing the name would replace the link; reading the link to
        // replace its target would skip the checks the OS makes when it
        // follows one (fs.protected_symlinks among them). So the OS's own
        // open follows it, and the target is written in place.
        exists = os.StatusOfPath(name, &existing);
        if (exists && !MayReplace(os, name, existing)) return 0;
    } else {
        if (exists && !MayReplace(os, name, existing)) return 0;
        way = WriteWay::Unnamed;
        handle = os.CreateUnnamed(name);
        if (handle == HostOs::kInvalidHandle) {
            way = WriteWay::Named;
            UnderFreshName(os, temporary, [&](const char* fresh) {
                return (handle = os.CreateExclusive(fresh)) != HostOs::kInvalidHandle;
            });
        }
        // A replacement that cannot keep the owner would change the file as
        // an in-place write never does.
        if (handle != HostOs::kInvalidHandle && exists && !os.Adopt(handle, existing)) {
            os.Close(handle);
            if (way == WriteWay::Named) os.Remove(temporary.c_str());
            handle = HostOs::kInvalidHandle;
        }
        // The folder refuses new names (or the owner cannot be kept): an
        // existing file is still written, in place.
        if (handle == HostOs::kInvalidHandle && !exists) return 0;
    }
    if (handle == HostOs::kInvalidHandle) {
        way = WriteWay::InPlace;
        handle = OpenInPlace(os, name);
        if (handle == HostOs::kInvalidHandle) return 0;
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
    if (m_handle == HostOs::kInvalidHandle || m_mode != WriteReplace) return 0;
    if (bytes == nullptr && count != 0) return 0;
    const auto* next = static_cast<const unsigned char*>(bytes);
    // Kept for a write in place should the replacement fail; only markers
    // are written this way, 4 bytes at a time.
    if (m_way != WriteWay::InPlace) m_bytes.append(reinterpret_cast<const char*>(next), count);
    if (m_failed) return 0;
    const auto done = static_cast<unsigned int>(WriteAll(*m_os, m_handle, next, count));
    m_failed = done != count;
    m_size += done;
    return done;
}

unsigned int MqFile::GetFileMode(const char* path) {
    if (path == nullptr) return 0;
    FileStatus status;
    if (!ktutils::detail::CurrentHostOs().StatusOfPath(path, &status)) return 0;
    return ModeWord(status);
}
