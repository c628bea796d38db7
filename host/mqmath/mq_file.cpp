#include "host/mqmath/mq_file.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <limits>
#include <random>
#include <utility>

namespace {

using ktutils::detail::FileStatus;
using ktutils::detail::HostOs;

// Tries at unused temporary names before giving up: a clash needs another
// writer with the same per-process salt, so more than a few means the folder
// itself refuses.
constexpr int kTemporaryNameAttempts = 8;

std::uint64_t TemporarySalt() {
    static const std::uint64_t salt = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device();
    }();
    return salt;
}

// "<name>.<16 hex digits>.tmp": in the folder of the name, so the final rename
// never crosses a file system.
XString TemporaryNameFor(const char* name) {
    static std::atomic<std::uint64_t> counter{0};
    const std::uint64_t tag = TemporarySalt() + counter.fetch_add(1, std::memory_order_relaxed);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(tag));
    XString temporary(name);
    temporary << suffix;
    return temporary;
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
    // whole marker.
    if (m_failed || std::uncaught_exceptions() > m_uncaughtAtOpen) {
        Discard();
        return;
    }
    const bool flushed = m_os->Flush(m_handle);
    const bool closed = m_os->Close(m_handle);
    m_handle = HostOs::kInvalidHandle;
    if (!flushed || !closed || !m_os->Rename(m_temporary.CStr(), m_name.CStr()))
        m_os->Remove(m_temporary.CStr());
}

void MqFile::Discard() noexcept {
    m_os->Close(m_handle);
    m_handle = HostOs::kInvalidHandle;
    m_os->Remove(m_temporary.CStr());
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

    if (mode == WriteReplace) {
        // Both names are built before the file exists: nothing after the
        // creation may throw and leave it behind.
        XString target(name);
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            XString temporary = TemporaryNameFor(name);
            const HostOs::Handle handle = os.CreateExclusive(temporary.CStr());
            if (handle == HostOs::kInvalidHandle) continue;
            m_os = &os;
            m_handle = handle;
            m_mode = mode;
            m_size = 0;
            m_failed = false;
            m_uncaughtAtOpen = std::uncaught_exceptions();
            m_name = std::move(target);
            m_temporary = std::move(temporary);
            return 1;
        }
    }
    return 0;
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
