#pragma once

#include <gmock/gmock.h>

#include "host/mqmath/host_os.h"
#include "host/mqmath/mq_allocator.h"
#include "host/mqmath/xstring.h"

// A seam that does what the native one does until a test tells it otherwise.
class MockHostOs : public ktutils::detail::HostOs {
public:
    using FileStatus = ktutils::detail::FileStatus;
    MOCK_METHOD(Handle, OpenForReading, (const char*), (override));
    MOCK_METHOD(Handle, CreateExclusive, (const char*), (override));
    MOCK_METHOD(bool, StatusOf, (Handle, FileStatus*), (override));
    MOCK_METHOD(bool, StatusOfPath, (const char*, FileStatus*), (override));
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
    MOCK_METHOD(bool, Adopt, (Handle, const FileStatus&), (override));
    MOCK_METHOD(bool, Truncate, (Handle, std::uint64_t), (override));
    MOCK_METHOD(void*, MapPages, (std::size_t, bool), (override));
    MOCK_METHOD(void, UnmapPages, (void*, std::size_t), (override));

    MockHostOs() {
        using testing::_;
        HostOs* native = &ktutils::detail::NativeHostOs();
#define KTUTILS_NATIVE(method, ...) \
    ON_CALL(*this, method(__VA_ARGS__)).WillByDefault(testing::Invoke(native, &HostOs::method))
        KTUTILS_NATIVE(OpenForReading, _); KTUTILS_NATIVE(CreateExclusive, _); KTUTILS_NATIVE(OpenForWriting, _);
        KTUTILS_NATIVE(StatusOf, _, _); KTUTILS_NATIVE(StatusOfPath, _, _); KTUTILS_NATIVE(CreateUnnamed, _);
        KTUTILS_NATIVE(Read, _, _, _); KTUTILS_NATIVE(Write, _, _, _); KTUTILS_NATIVE(Truncate, _, _);
        KTUTILS_NATIVE(Flush, _); KTUTILS_NATIVE(Close, _); KTUTILS_NATIVE(Rename, _, _); KTUTILS_NATIVE(Remove, _);
        KTUTILS_NATIVE(FinalName, _, _); KTUTILS_NATIVE(MayWrite, _); KTUTILS_NATIVE(Link, _, _);
        KTUTILS_NATIVE(Adopt, _, _); KTUTILS_NATIVE(MapPages, _, _); KTUTILS_NATIVE(UnmapPages, _, _);
#undef KTUTILS_NATIVE
    }
};

// Installs a seam for one scope. The kept scratch blocks are unmapped on the
// way in and out: some may remember the seam that is about to go.
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
