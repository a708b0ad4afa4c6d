// Text files read whole as single-byte lines. A line ends at CR, LF or CR LF;
// a line break at the very end of the file adds no empty line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dorvane::firmware {

struct TextFile {
    std::vector<std::string> lines;
    // The first line break met ("\r\n", "\n" or "\r"); empty when there is none.
    std::string lineBreak;
    // True when the last line was followed by a line break.
    bool endsWithBreak = false;
};

// Splits bytes into lines.
TextFile splitLines(std::string_view bytes);

// Reads the whole file. False when it cannot be opened or read.
bool readTextFile(const std::string& path, TextFile& file);
bool readFileBytes(const std::string& path, std::string& bytes);

// Joins lines with the given break, adding one after the last line when
// finalBreak is set.
std::string joinLines(const std::vector<std::string>& lines, std::string_view lineBreak, bool finalBreak);

// The file name of a path: what follows the last '/' or '\'.
std::string_view fileNameOf(std::string_view path);
// A file name without its extension (the last dot and what follows it).
std::string_view withoutExtension(std::string_view fileName);

}  // namespace dorvane::firmware
