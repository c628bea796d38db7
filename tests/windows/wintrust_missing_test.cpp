// Run with the trust service disabled (WINEDLLOVERRIDES=wintrust=d, set by
// the test's registration): the library cannot load it, and so accepts
// nothing, whatever the caller asks.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ktutils/library/verify_server_component.h"

namespace {

TEST(VerifyServerComponentWithoutTrustService, EveryFileIsRefused) {
    const HMODULE trust = ::LoadLibraryA("wintrust.dll");
    if (trust != nullptr) ::FreeLibrary(trust);
    ASSERT_EQ(trust, nullptr) << "wintrust.dll loads: this test needs it disabled";

    std::vector<char> program(MAX_PATH * 4);
    ::GetModuleFileNameA(nullptr, program.data(), static_cast<DWORD>(program.size()));
    for (std::uint32_t uiChoice : {1u, 2u, 3u, 4u}) {
        EXPECT_EQ(VerifyServerComponent(program.data(), uiChoice, 0), 0) << uiChoice;
        EXPECT_EQ(VerifyServerComponent(program.data(), uiChoice, 1), 0) << uiChoice;
    }
}

}  // namespace
