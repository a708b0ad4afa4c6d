#include "firmware/textLines.h"

#include <cstdio>

namespace dorvane::firmware {

TextFile splitLines(std::string_view bytes) {
    TextFile file;
    std::size_t start = 0;
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        file.lines.emplace_back(bytes.substr(start, i - start));
        std::size_t breakLength = (c == '\r' && i + 1 < n && bytes[i + 1] == '\n') ? 2 : 1;
        if (file.lineBreak.empty()) file.lineBreak.assign(bytes.substr(i, breakLength));
        i += breakLength;
        start = i;
    }
    if (start < n) {
        file.lines.emplace_back(bytes.substr(start));
        file.endsWithBreak = false;
    } else {
        file.endsWithBreak = !file.lines.empty();
    }
    return file;
}

bool readFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, f);
        bytes.append(buffer, got);
        if (got < sizeof buffer) {
            ok = std::ferror(f) == 0;
            break;
        }
    }
    std::fclose(f);
    return ok;
}

bool readTextFile(const std::string& path, TextFile& file) {
    std::string bytes;
    if (!readFileBytes(path, bytes)) {
        file = TextFile{};
        return false;
    }
    file = splitLines(bytes);
    return true;
}

std::string joinLines(const std::vector<std::string>& lines, std::string_view lineBreak, bool finalBreak) {
    std::size_t total = 0;
    for (const auto& line : lines) total += line.size() + lineBreak.size();
    std::string out;
    out.reserve(total);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (i + 1 < lines.size() || finalBreak) out += lineBreak;
    }
    return out;
}

std::string_view fileNameOf(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view withoutExtension(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? fileName : fileName.substr(0, dot);
}

}  // namespace dorvane::firmware
