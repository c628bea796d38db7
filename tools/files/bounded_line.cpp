#include "tools/files/bounded_line.h"

namespace ktutils::tool {

LineRead ReadBoundedLine(std::FILE* input, std::string& line, std::size_t limit) {
    line.clear();
    bool any = false, tooLong = false;
    int c;
    while ((c = std::getc(input)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (tooLong) continue;
        if (line.size() == limit) {
            tooLong = true;
            line.clear();
            line.shrink_to_fit();
            continue;
        }
        line += static_cast<char>(c);
    }
    if (!any) return LineRead::End;
    return tooLong ? LineRead::TooLong : LineRead::Line;
}

}  // namespace ktutils::tool
