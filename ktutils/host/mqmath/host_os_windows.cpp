#include "ktutils/host/mqmath/host_os.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace ktutils::detail {
namespace {

// ReadFile and WriteFile count in DWORDs; 1 GiB per call keeps every count
// far inside that and inside the int64 the seam returns.
constexpr std::size_t kLargestTransfer = std::size_t{1} << 30;

HANDLE ToHandle(HostOs::Handle file) { return reinterpret_cast<HANDLE>(file); }

HostOs::Handle FromHandle(HANDLE handle) {
    // INVALID_HANDLE_VALUE is (HANDLE)-1, the seam's kInvalidHandle.
    return reinterpret_cast<HostOs::Handle>(handle);
}

std::uint64_t SizeOf(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

FileStatus FromAttributes(const WIN32_FILE_ATTRIBUTE_DATA& data) {
    FileStatus status;
    status.kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileStatus::Kind::Directory
                                                                         : FileStatus::Kind::Regular;
    status.size = SizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    status.permissions = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444u : 0666u;
    return status;
}

class WindowsHostOs final : public HostOs {
public:
    Handle OpenForReading(const char* path) override {
        // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open, and a
        // named pipe opens without waiting for its other end; both are then
        // refused by their status. Sharing write and delete lets a marker be
        // replaced while it is being read, as on POSIX.
        return FromHandle(::CreateFileA(path, GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    Handle CreateExclusive(const char* path) override {
        return FromHandle(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    bool StatusOf(Handle file, FileStatus* status) override {
        const HANDLE handle = ToHandle(file);
        *status = FileStatus{};
        switch (::GetFileType(handle)) {
            case FILE_TYPE_CHAR: status->kind = FileStatus::Kind::CharacterDevice; return true;
            case FILE_TYPE_PIPE: status->kind = FileStatus::Kind::Fifo; return true;
            case FILE_TYPE_DISK: break;
            default: return true;  // Kind::Other
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle, &info)) return false;
        status->kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? FileStatus::Kind::Directory
                           : FileStatus::Kind::Regular;
        status->size = SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
        status->permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444u : 0666u;
        status->device = info.dwVolumeSerialNumber;
        status->inode = SizeOf(info.nFileIndexHigh, info.nFileIndexLow);
        return true;
    }

    bool StatusOfPath(const char* path, FileStatus* status) override {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
        *status = FromAttributes(data);
        return true;
    }

    Lookup StatusOfName(const char* path, FileStatus* status) override {
        // The attributes of the name itself: a symbolic link or junction is
        // a reparse point here, not followed.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Lookup::Absent
                                                                                 : Lookup::Refused;
        }
        *status = FromAttributes(data);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            status->kind = FileStatus::Kind::SymbolicLink;
        return Lookup::Found;
    }

    std::int64_t Read(Handle file, void* buffer, std::size_t count) override {
        if (count > kLargestTransfer) count = kLargestTransfer;
        DWORD got = 0;
        if (!::ReadFile(ToHandle(file), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
        return got;
    }

    std::int64_t Write(Handle file, const void* bytes, std::size_t count) override {
        if (count > kLargestTransfer) count = kLargestTransfer;
        DWORD put = 0;
        if (!::WriteFile(ToHandle(file), bytes, static_cast<DWORD>(count), &put, nullptr)) return -1;
        return put;
    }

    bool Flush(Handle file) override { return ::FlushFileBuffers(ToHandle(file)) != 0; }

    bool Close(Handle file) override { return ::CloseHandle(ToHandle(file)) != 0; }

    bool Rename(const char* from, const char* to) override {
        // Write-through: the rename itself is on the disk when this returns,
        // as the POSIX side gets from its fsync before rename.
        return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool Remove(const char* path) override { return ::DeleteFileA(path) != 0; }

    bool MayWrite(const char* path) override {
        const HANDLE handle = ::CreateFileA(path, GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(handle);
        return true;
    }

    Handle OpenForWriting(const char* path) override {
        return FromHandle(::CreateFileA(path, GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    // No unnamed files: replacements go through a named temporary file, which
    // CreateExclusive opens unshared, so no other writer can remove it while
    // it is being written.
    Handle CreateUnnamed(const char* /*path*/) override { return kInvalidHandle; }

    bool Link(Handle /*file*/, const char* /*path*/) override { return false; }

    // A replacement takes the folder's inherited permissions; the read-only
    // attribute, all the seam reports, never stands on a file being written.
    bool Adopt(Handle /*file*/, const FileStatus& /*like*/) override { return true; }

    bool Truncate(Handle file, std::uint64_t length) override {
        LARGE_INTEGER position{};
        position.QuadPart = static_cast<LONGLONG>(length);
        return ::SetFilePointerEx(ToHandle(file), position, nullptr, FILE_BEGIN) != 0 &&
               ::SetEndOfFile(ToHandle(file)) != 0;
    }

    void* MapPages(std::size_t bytes, bool /*hugePages*/) override {
        // Large pages need a privilege that host processes rarely hold, so
        // the advice is not taken here; committed pages come zero-filled.
        return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    }

    void UnmapPages(void* pages, std::size_t /*bytes*/) override {
        ::VirtualFree(pages, 0, MEM_RELEASE);
    }
};

}  // namespace

HostOs& NativeHostOs() {
    // Never destroyed, so files closed by other objects' destructors at exit
    // still reach it.
    static HostOs* const native = new WindowsHostOs;
    return *native;
}

}  // namespace ktutils::detail
