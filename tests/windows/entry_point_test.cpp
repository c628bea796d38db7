// Threads that the host starts and ends after loading the library never run
// the library's entry point: it declines thread notifications at process
// attach. Seen through probe DLLs whose entry point counts the loader's calls.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

namespace {

using CallsFunction = LONG (*)(DWORD);

class ProbeLibrary {
public:
    explicit ProbeLibrary(const char* name) : m_module(::LoadLibraryA(name)) {
        if (m_module != nullptr)
            m_calls = reinterpret_cast<CallsFunction>(
                reinterpret_cast<void*>(::GetProcAddress(m_module, "KtutilsProbeEntryCalls")));
    }
    ~ProbeLibrary() {
        if (m_module != nullptr) ::FreeLibrary(m_module);
    }
    ProbeLibrary(const ProbeLibrary&) = delete;
    ProbeLibrary& operator=(const ProbeLibrary&) = delete;

    bool Loaded() const { return m_calls != nullptr; }
    LONG Calls(DWORD reason) const { return m_calls(reason); }

private:
    HMODULE m_module;
    CallsFunction m_calls = nullptr;
};

constexpr int kThreads = 4;

void StartAndEndThreads() {
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) threads.emplace_back([] { ::Sleep(1); });
    for (std::thread& thread : threads) thread.join();
}

TEST(EntryPoint, ThreadsStartedAfterLoadingNeverReachTheLibrary) {
    ProbeLibrary probe(KTUTILS_ENTRY_PROBE);
    ASSERT_TRUE(probe.Loaded()) << "cannot load " << KTUTILS_ENTRY_PROBE << ": error " << ::GetLastError();
    EXPECT_EQ(probe.Calls(DLL_PROCESS_ATTACH), 1);

    StartAndEndThreads();

    EXPECT_EQ(probe.Calls(DLL_THREAD_ATTACH), 0);
    EXPECT_EQ(probe.Calls(DLL_THREAD_DETACH), 0);
    EXPECT_EQ(probe.Calls(DLL_PROCESS_ATTACH), 1);
    EXPECT_EQ(probe.Calls(DLL_PROCESS_DETACH), 0);
}

TEST(EntryPoint, TheProbeCountsThreadsForALibraryThatKeepsItsNotifications) {
    ProbeLibrary probe(KTUTILS_ENTRY_PROBE_KEEPING_THREAD_CALLS);
    ASSERT_TRUE(probe.Loaded()) << "cannot load " << KTUTILS_ENTRY_PROBE_KEEPING_THREAD_CALLS << ": error "
                                << ::GetLastError();

    StartAndEndThreads();

    EXPECT_GE(probe.Calls(DLL_THREAD_ATTACH), kThreads);
    EXPECT_GE(probe.Calls(DLL_THREAD_DETACH), kThreads);
}

}  // namespace
