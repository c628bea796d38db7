// Threads that the host starts and ends after loading the library never run
// its entry point: it declines thread notifications at process attach.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

TEST(EntryPoint, ThreadsStartedAfterLoadingNeverReachTheLibrary) {
    const HMODULE probe = ::LoadLibraryA(KTUTILS_ENTRY_PROBE);
    ASSERT_NE(probe, nullptr) << "cannot load " << KTUTILS_ENTRY_PROBE << ": error " << ::GetLastError();
    const auto calls = reinterpret_cast<LONG (*)(DWORD)>(
        reinterpret_cast<void*>(::GetProcAddress(probe, "KtutilsProbeEntryCalls")));
    ASSERT_NE(calls, nullptr);
    std::vector<std::thread> threads(4);
    for (std::thread& thread : threads) thread = std::thread([] { ::Sleep(1); });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(calls(DLL_PROCESS_ATTACH), 1);  // the count sees the loader's calls
    EXPECT_EQ(calls(DLL_THREAD_ATTACH), 0);
    EXPECT_EQ(calls(DLL_THREAD_DETACH), 0);
    ::FreeLibrary(probe);
}
