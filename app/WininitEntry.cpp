#include "app/WininitEntry.h"

#include <cstring>

namespace {

const char* const kHeader = "[RENAME]";
const char* const kLineEnd = "\r\n";

} // namespace

std::string insertDeletionEntry(const std::string& original, const std::string& shortPath)
{
    const std::string entry = "NUL=" + shortPath + kLineEnd;

    size_t lineStart = 0;
    while (lineStart < original.size()) {
        size_t next = original.find('\n', lineStart);
        next = next == std::string::npos ? original.size() : next + 1;
        if (original.compare(lineStart, 8, kHeader) == 0) {
            std::string result = original.substr(0, next);
            if (result.back() != '\n') result += kLineEnd; // header was the unterminated last line
            result += entry;
            result += original.substr(next);
            return result;
        }
        lineStart = next;
    }

    std::string result = original;
    if (!result.empty() && result.back() != '\n') result += kLineEnd;
    result += kHeader;
    result += kLineEnd;
    result += entry;
    return result;
}
