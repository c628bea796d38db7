// VerifyServerComponent against the system's trust service (Wine's under the test runner) and, as
// windows.wintrust-missing, with it disabled: what is unsigned, absent or no program is refused whatever
// the caller accepts, and a path longer than MAX_PATH is refused rather than cut to name another file;
// ktutils::VerifyFile alike, and roots it cannot hand to Windows' service refuse the file.
#include <gtest/gtest.h>
#include <windows.h>

#include <wintrust.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ktutils/library/verify_file.h"
#include "ktutils/library/verify_server_component.h"
#include "tests/support/temp_dir.h"

TEST(VerifyServerComponentOnWindows, RefusesWhatIsNotASignedImage) {
    const char* overrides = std::getenv("WINEDLLOVERRIDES");  // the run without it must not find it
    const bool missing = overrides != nullptr && std::string(overrides) == "wintrust=d";
    ASSERT_TRUE(!missing || !::LoadLibraryA("wintrust.dll"));
    const ktutils::VerifyOptions rooted{"roots.pem"};
    TempDir dir;
    std::ofstream(dir.Path("component.txt")) << "not a program";
    std::vector<char> self(MAX_PATH * 4);
    self.resize(::GetModuleFileNameA(nullptr, self.data(), static_cast<DWORD>(self.size())));
    const std::string program(self.begin(), self.end());  // a valid, unsigned image
    for (std::string path : {program, dir.Path("component.txt"), dir.Path("absent.dll"), dir.Root().string(),
                             program + std::string(MAX_PATH, 'x')}) {
        for (int accept : {0, 1}) EXPECT_EQ(VerifyServerComponent(path.data(), WTD_UI_NONE, accept), 0) << path;
        EXPECT_FALSE(ktutils::VerifyFile(path.c_str()).trusted) << path;
        EXPECT_EQ(ktutils::VerifyFile(path.c_str(), rooted).status, missing ? 0x8007007Eu : 0x80004001u) << path;
    }
}
