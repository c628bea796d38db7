// Writes the seed corpora of the fuzz harnesses from the golden messages
// (tests/golden/messages.hex), so the seeds follow the wire format whenever
// the golden file changes and no binary input lives in the repository. (The
// PE image harness takes the signature tests' images instead.)
//
//   ktutils-fuzz-seeds <golden.hex> <output directory>
//
// One subdirectory per harness, named as the harness, each input laid out as
// that harness reads it (see the comment at the top of each harness).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ktutils/host/nq2/nq_message_buffer.h"
#include "tests/support/payload_codecs.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Sections "[WriteName]" of hex pairs; '#' starts a comment.
bool LoadGolden(const char* path, std::map<std::string, Bytes>& golden) {
    std::ifstream file(path);
    if (!file) return false;
    std::string line, section;
    while (std::getline(file, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string word;
        while (words >> word) {
            if (word.front() == '[' && word.back() == ']') {
                section = word.substr(1, word.size() - 2);
            } else if (!section.empty() && word.size() == 2) {
                golden[section].push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
            } else {
                return false;
            }
        }
    }
    return !golden.empty();
}

void Save(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    std::ofstream file(dir / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes PayloadOf(const Bytes& frame) {
    return Bytes(frame.begin() + NQMessageBuffer::kHeaderSize, frame.end());
}

fs::path FreshDir(const fs::path& root, const char* harness) {
    const fs::path dir = root / harness;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <golden.hex> <output directory>\n", argv[0]);
        return 2;
    }
    std::map<std::string, Bytes> golden;
    if (!LoadGolden(argv[1], golden)) {
        std::fprintf(stderr, "%s: cannot read golden messages from %s\n", argv[0], argv[1]);
        return 1;
    }
    const fs::path root(argv[2]);

    // Stream: [piece seed][frames]. Each frame alone in one piece, and the
    // whole set back to back under a few piece seeds.
    const fs::path stream = FreshDir(root, "stream_fuzzer");
    Bytes all;
    for (const auto& [name, frame] : golden) {
        Save(stream, name, Join({{0}, frame}));
        all.insert(all.end(), frame.begin(), frame.end());
    }
    for (const uint8_t seed : {0, 1, 7, 200}) {
        Save(stream, "AllMessages-" + std::to_string(seed), Join({{seed}, all}));
    }

    // Decoders: [decoder index][payload]. Write-corrupt-read: [message index]
    // [damage: cut flag, position U16, mask][arguments, drawn as the payload
    // lays them out], so each golden payload redraws its fixture's arguments.
    const fs::path decoders = FreshDir(root, "decoders_fuzzer");
    const fs::path corrupt = FreshDir(root, "write_corrupt_read_fuzzer");
    const auto& codecs = ktutils::detail::PayloadCodecs();
    for (std::size_t i = 0; i < codecs.size(); ++i) {
        const std::string name = codecs[i].name;
        const auto frame = golden.find("Write" + name);
        if (frame == golden.end()) {
            std::fprintf(stderr, "%s: no golden message for Write%s\n", argv[0], name.c_str());
            return 1;
        }
        const Bytes payload = PayloadOf(frame->second);
        const uint8_t index = static_cast<uint8_t>(i);
        const uint8_t middle = static_cast<uint8_t>(payload.size() / 2);
        Save(decoders, name, Join({{index}, payload}));
        Save(corrupt, name + "-flip-type", Join({{index, 0, 4, 0, 0x01}, payload}));
        Save(corrupt, name + "-flip-payload", Join({{index, 0, 8, 0, 0xFF}, payload}));
        Save(corrupt, name + "-cut-middle", Join({{index, 1, middle, 0, 0}, payload}));
    }

    // Checksum files: [marker length, 9 = none][running U32][marker][contents].
    // The contents are the golden frames, and the edge of Adler-32's
    // reduction: 5552 and 5553 bytes of 0xFF.
    const fs::path files = FreshDir(root, "checksum_files_fuzzer");
    Save(files, "empty-no-marker", {9, 1, 0, 0, 0});
    Save(files, "empty-empty-marker", {0, 1, 0, 0, 0});
    Save(files, "two-byte-marker", Join({{2, 0xF0, 0xFF, 0xF0, 0xFF, 0x34, 0x12}, all}));
    Save(files, "eight-byte-marker", Join({{8, 1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, all}));
    Save(files, "all-messages", Join({{9, 1, 0, 0, 0}, all}));
    for (const std::size_t edge : {5552u, 5553u}) {
        Save(files, "ff-" + std::to_string(edge), Join({{9, 0xF0, 0xFF, 0xF0, 0xFF}, Bytes(edge, 0xFF)}));
    }
    return 0;
}
