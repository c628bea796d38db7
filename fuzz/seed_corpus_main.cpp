// Writes each message of the golden file (sections "[WriteName]" of hex pairs, '#' to a line's end a
// comment) as a file: the seeds of the message and checksum harnesses, no binary kept in the tree.
//   ktutils-fuzz-seeds <golden.hex> <output directory>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::ifstream golden(argv[1]);
    std::filesystem::create_directories(argv[2]);
    std::ofstream out;
    for (std::string word; golden >> word;) {
        if (word[0] == '#') std::getline(golden, word);
        else if (word[0] == '[')
            out = std::ofstream(std::filesystem::path(argv[2]) / word.substr(1, word.size() - 2), std::ios::binary);
        else out.put(static_cast<char>(std::stoi(word, nullptr, 16)));
    }
    return golden.eof() && out.good() ? 0 : 1;
}
