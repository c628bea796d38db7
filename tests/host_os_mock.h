#pragma once

#include <gmock/gmock.h>

#include "ktutils/host/mqmath/host_os.h"
#include "ktutils/host/mqmath/mq_allocator.h"
#include "ktutils/host/mqmath/xstring.h"

// A seam that does what the native one does until a test tells it otherwise,
// and records the calls.
class MockHostOs : public ktutils::detail::HostOs {
public:
    MockHostOs() {
        using ktutils::detail::NativeHostOs;
        using testing::_;
        ON_CALL(*this, OpenForReading(_)).WillByDefault([](const char* p) { return NativeHostOs().OpenForReading(p); });
        ON_CALL(*this, CreateExclusive(_)).WillByDefault([](const char* p) { return NativeHostOs().CreateExclusive(p); });
        ON_CALL(*this, StatusOf(_, _)).WillByDefault([](Handle h, ktutils::detail::FileStatus* s) {
            return NativeHostOs().StatusOf(h, s);
        });
        ON_CALL(*this, StatusOfPath(_, _)).WillByDefault([](const char* p, ktutils::detail::FileStatus* s) {
            return NativeHostOs().StatusOfPath(p, s);
        });
        ON_CALL(*this, Read(_, _, _)).WillByDefault([](Handle h, void* b, std::size_t n) {
            return NativeHostOs().Read(h, b, n);
        });
        ON_CALL(*this, Write(_, _, _)).WillByDefault([](Handle h, const void* b, std::size_t n) {
            return NativeHostOs().Write(h, b, n);
        });
        ON_CALL(*this, Flush(_)).WillByDefault([](Handle h) { return NativeHostOs().Flush(h); });
        ON_CALL(*this, Close(_)).WillByDefault([](Handle h) { return NativeHostOs().Close(h); });
        ON_CALL(*this, Rename(_, _)).WillByDefault([](const char* a, const char* b) { return NativeHostOs().Rename(a, b); });
        ON_CALL(*this, Remove(_)).WillByDefault([](const char* p) { return NativeHostOs().Remove(p); });
        ON_CALL(*this, FinalName(_, _)).WillByDefault([](const char* p, XString* n) { return NativeHostOs().FinalName(p, n); });
        ON_CALL(*this, MayWrite(_)).WillByDefault([](const char* p) { return NativeHostOs().MayWrite(p); });
        ON_CALL(*this, OpenForWriting(_)).WillByDefault([](const char* p) { return NativeHostOs().OpenForWriting(p); });
        ON_CALL(*this, CreateUnnamed(_)).WillByDefault([](const char* p) { return NativeHostOs().CreateUnnamed(p); });
        ON_CALL(*this, Link(_, _)).WillByDefault([](Handle h, const char* p) { return NativeHostOs().Link(h, p); });
        ON_CALL(*this, Adopt(_, _)).WillByDefault([](Handle h, const ktutils::detail::FileStatus& s) {
            return NativeHostOs().Adopt(h, s);
        });
        ON_CALL(*this, Truncate(_, _)).WillByDefault([](Handle h, std::uint64_t n) { return NativeHostOs().Truncate(h, n); });
        ON_CALL(*this, MapPages(_, _)).WillByDefault([](std::size_t n, bool huge) { return NativeHostOs().MapPages(n, huge); });
        ON_CALL(*this, UnmapPages(_, _)).WillByDefault([](void* p, std::size_t n) { NativeHostOs().UnmapPages(p, n); });
    }

    MOCK_METHOD(Handle, OpenForReading, (const char*), (override));
    MOCK_METHOD(Handle, CreateExclusive, (const char*), (override));
    MOCK_METHOD(bool, StatusOf, (Handle, ktutils::detail::FileStatus*), (override));
    MOCK_METHOD(bool, StatusOfPath, (const char*, ktutils::detail::FileStatus*), (override));
    MOCK_METHOD(std::int64_t, Read, (Handle, void*, std::size_t), (override));
    MOCK_METHOD(std::int64_t, Write, (Handle, const void*, std::size_t), (override));
    MOCK_METHOD(bool, Flush, (Handle), (override));
    MOCK_METHOD(bool, Close, (Handle), (override));
    MOCK_METHOD(bool, Rename, (const char*, const char*), (override));
    MOCK_METHOD(bool, Remove, (const char*), (override));
    MOCK_METHOD(bool, FinalName, (const char*, XString*), (override));
    MOCK_METHOD(bool, MayWrite, (const char*), (override));
    MOCK_METHOD(Handle, OpenForWriting, (const char*), (override));
    MOCK_METHOD(Handle, CreateUnnamed, (const char*), (override));
    MOCK_METHOD(bool, Link, (Handle, const char*), (override));
    MOCK_METHOD(bool, Adopt, (Handle, const ktutils::detail::FileStatus&), (override));
    MOCK_METHOD(bool, Truncate, (Handle, std::uint64_t), (override));
    MOCK_METHOD(void*, MapPages, (std::size_t, bool), (override));
    MOCK_METHOD(void, UnmapPages, (void*, std::size_t), (override));
};

// Installs a seam for one scope. On leaving, the kept scratch blocks are
// unmapped first: some may remember the seam that is about to go.
class ScopedHostOs {
public:
    explicit ScopedHostOs(ktutils::detail::HostOs* os) : m_previous(ktutils::detail::InstallHostOs(os)) {
        MqAllocator::Instance().Trim();
    }
    ~ScopedHostOs() {
        MqAllocator::Instance().Trim();
        ktutils::detail::InstallHostOs(m_previous);
    }
    ScopedHostOs(const ScopedHostOs&) = delete;
    ScopedHostOs& operator=(const ScopedHostOs&) = delete;

private:
    ktutils::detail::HostOs* m_previous;
};
