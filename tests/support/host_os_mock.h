#pragma once

#include <gmock/gmock.h>

#include "ktutils/host/mqmath/host_os.h"
#include "ktutils/host/mqmath/mq_allocator.h"
#include "ktutils/host/mqmath/xstring.h"

// A seam that does what the native one does until a test tells it otherwise.
class MockHostOs : public ktutils::detail::HostOs {
public:
    MOCK_METHOD(Handle, OpenForReading, (const char*), (override));
    MOCK_METHOD(Handle, CreateExclusive, (const char*), (override));
    MOCK_METHOD(bool, StatusOf, (Handle, ktutils::detail::FileStatus*), (override));
    MOCK_METHOD(bool, StatusOfPath, (const char*, ktutils::detail::FileStatus*), (override));
    MOCK_METHOD(Lookup, StatusOfName, (const char*, ktutils::detail::FileStatus*), (override));
    MOCK_METHOD(std::int64_t, Read, (Handle, void*, std::size_t), (override));
    MOCK_METHOD(std::int64_t, Write, (Handle, const void*, std::size_t), (override));
    MOCK_METHOD(bool, Flush, (Handle), (override));
    MOCK_METHOD(bool, Close, (Handle), (override));
    MOCK_METHOD(bool, Rename, (const char*, const char*), (override));
    MOCK_METHOD(bool, Remove, (const char*), (override));
    MOCK_METHOD(bool, MayWrite, (const char*), (override));
    MOCK_METHOD(Handle, OpenForWriting, (const char*), (override));
    MOCK_METHOD(Handle, CreateUnnamed, (const char*), (override));
    MOCK_METHOD(bool, Link, (Handle, const char*), (override));
    MOCK_METHOD(bool, Adopt, (Handle, const ktutils::detail::FileStatus&), (override));
    MOCK_METHOD(bool, Truncate, (Handle, std::uint64_t), (override));
    MOCK_METHOD(void*, MapPages, (std::size_t, bool), (override));
    MOCK_METHOD(void, UnmapPages, (void*, std::size_t), (override));

    HostOs& native = ktutils::detail::NativeHostOs();  // what the seam does by default
    MockHostOs() {
#define KTUTILS_NATIVE(method) ON_CALL(*this, method).WillByDefault(testing::Invoke(&native, &HostOs::method))
        KTUTILS_NATIVE(OpenForReading); KTUTILS_NATIVE(CreateExclusive); KTUTILS_NATIVE(OpenForWriting);
        KTUTILS_NATIVE(StatusOf); KTUTILS_NATIVE(StatusOfPath); KTUTILS_NATIVE(CreateUnnamed); KTUTILS_NATIVE(Read);
        KTUTILS_NATIVE(Write); KTUTILS_NATIVE(Truncate); KTUTILS_NATIVE(Flush); KTUTILS_NATIVE(Close); KTUTILS_NATIVE(Rename);
        KTUTILS_NATIVE(Remove); KTUTILS_NATIVE(StatusOfName); KTUTILS_NATIVE(MayWrite); KTUTILS_NATIVE(Link);
        KTUTILS_NATIVE(Adopt); KTUTILS_NATIVE(MapPages); KTUTILS_NATIVE(UnmapPages);
#undef KTUTILS_NATIVE
    }
};

// Installs a seam for one scope; kept scratch blocks, which may remember the seam, are unmapped on the way in and out.
struct ScopedHostOs {
    explicit ScopedHostOs(ktutils::detail::HostOs* os) : previous(ktutils::detail::InstallHostOs(os)) { MqAllocator::Instance().Trim(); }
    ~ScopedHostOs() { MqAllocator::Instance().Trim(), ktutils::detail::InstallHostOs(previous); }
    ktutils::detail::HostOs* const previous;
};
