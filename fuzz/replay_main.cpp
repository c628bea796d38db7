// Runs a fuzz harness without libFuzzer: every file of the corpus directories named on the command line is
// handed to it once, in name order, so that each corpus replays in every ctest run, under the build's sanitizers.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tests/support/temp_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;  // a missing directory throws: the replay fails
    for (int i = 1; i < argc; ++i)
        for (const auto& entry : std::filesystem::directory_iterator(argv[i])) inputs.push_back(entry.path());
    std::sort(inputs.begin(), inputs.end());
    LLVMFuzzerTestOneInput(nullptr, 0);  // the empty input is always worth a run
    for (const std::filesystem::path& path : inputs) {
        const std::vector<uint8_t> bytes = ReadBytes(path.string());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replay: %zu inputs, no failure\n", inputs.size());
    return inputs.empty() ? 1 : 0;  // a replay that runs nothing would prove nothing
}
