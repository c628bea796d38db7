// Threads that the host starts and ends after loading the library never run its entry point; a probe
// that keeps its thread calls shows that the count would see them.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

TEST(EntryPoint, ThreadsStartedAfterLoadingReachOnlyALibraryThatKeepsThreadCalls) {
    for (const auto& [probe, keeps] : {std::pair{KTUTILS_ENTRY_PROBE, false}, {KTUTILS_ENTRY_PROBE_KEEPING, true}}) {
        SCOPED_TRACE(probe);
        const HMODULE module = ::LoadLibraryA(probe);
        ASSERT_NE(module, nullptr) << "error " << ::GetLastError();
        const auto calls = reinterpret_cast<LONG (*)(DWORD)>(
            reinterpret_cast<void*>(::GetProcAddress(module, "KtutilsProbeEntryCalls")));
        ASSERT_NE(calls, nullptr);
        std::vector<std::thread> threads(4);
        for (auto& thread : threads) thread = std::thread([] { ::Sleep(1); });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(calls(DLL_PROCESS_ATTACH), 1);
        EXPECT_EQ(calls(DLL_THREAD_ATTACH) >= 4 && calls(DLL_THREAD_DETACH) >= 4, keeps);
        if (!keeps) { EXPECT_EQ(calls(DLL_THREAD_ATTACH) + calls(DLL_THREAD_DETACH), 0); }
        ::FreeLibrary(module);
    }
}
