#pragma once

#include <gmock/gmock.h>

#include "ktutils/host/mqmath/host_os.h"
#include "ktutils/host/mqmath/mq_allocator.h"
#include "ktutils/host/mqmath/xstring.h"

// Every call of the seam, once: mocked, and by default passed on to the native seam.
#define KTUTILS_HOST_OS_CALLS(X) \
    X(Handle, OpenForReading, (const char*)) X(Handle, CreateExclusive, (const char*)) X(bool, Remove, (const char*)) \
    X(bool, StatusOf, (Handle, FileStatus*)) X(bool, StatusOfPath, (const char*, FileStatus*)) \
    X(Lookup, StatusOfName, (const char*, FileStatus*)) X(std::int64_t, Read, (Handle, void*, std::size_t)) \
    X(std::int64_t, Write, (Handle, const void*, std::size_t)) X(bool, Flush, (Handle)) X(bool, Close, (Handle)) \
    X(bool, Rename, (const char*, const char*)) X(bool, MayWrite, (const char*)) X(Handle, OpenForWriting, (const char*)) \
    X(Handle, CreateUnnamed, (const char*)) X(bool, Link, (Handle, const char*)) X(bool, Truncate, (Handle, std::uint64_t)) \
    X(bool, Adopt, (Handle, const FileStatus&)) X(void*, MapPages, (std::size_t, bool)) X(void, UnmapPages, (void*, std::size_t))
#define KTUTILS_MOCK(result, call, arguments) MOCK_METHOD(result, call, arguments, (override));
#define KTUTILS_NATIVE(result, call, arguments) ON_CALL(*this, call).WillByDefault(testing::Invoke(&native, &HostOs::call));

// A seam that does what the native one does until a test tells it otherwise.
class MockHostOs : public ktutils::detail::HostOs {
    using FileStatus = ktutils::detail::FileStatus;

public:
    KTUTILS_HOST_OS_CALLS(KTUTILS_MOCK)
    HostOs& native = ktutils::detail::NativeHostOs();  // what the seam does by default
    MockHostOs() { KTUTILS_HOST_OS_CALLS(KTUTILS_NATIVE) }
};
#undef KTUTILS_NATIVE
#undef KTUTILS_MOCK
#undef KTUTILS_HOST_OS_CALLS

// Installs a seam for one scope; kept scratch blocks, which may remember the seam, are unmapped on the way in and out.
struct ScopedHostOs {
    explicit ScopedHostOs(ktutils::detail::HostOs* os) : previous(ktutils::detail::InstallHostOs(os)) { MqAllocator::Instance().Trim(); }
    ~ScopedHostOs() { MqAllocator::Instance().Trim(), ktutils::detail::InstallHostOs(previous); }
    ktutils::detail::HostOs* const previous;
};
