#include "platform/terminal/TerminalText.h"

#include <iconv.h>
#include <langinfo.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool isLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the character at `i`.
size_t charLength(const std::string& text, size_t i, bool doubleByte)
{
    if (doubleByte && isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size())
        return 2;
    return 1;
}

iconv_t asIconv(void* handle)
{
    return reinterpret_cast<iconv_t>(handle);
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

} // namespace

TextConverter::TextConverter(const std::string& from, const std::string& to)
{
    std::string target = to + "//TRANSLIT";
    iconv_t h = iconv_open(target.c_str(), from.c_str());
    if (h == reinterpret_cast<iconv_t>(-1)) h = iconv_open(to.c_str(), from.c_str());
    if (h != reinterpret_cast<iconv_t>(-1)) handle_ = reinterpret_cast<void*>(h);
}

TextConverter::~TextConverter()
{
    if (handle_ != nullptr) iconv_close(asIconv(handle_));
}

std::string TextConverter::convert(const std::string& text) const
{
    std::string out;
    if (handle_ == nullptr) {
        for (char c : text)
            out += static_cast<unsigned char>(c) < 0x80 ? c : '?';
        return out;
    }
    iconv(asIconv(handle_), nullptr, nullptr, nullptr, nullptr);
    std::string input = text;
    char* in = input.data();
    size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char* o = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = iconv(asIconv(handle_), &in, &inLeft, &o, &outLeft);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // An invalid or unconvertible byte: show '?' and go on after it.
        out += '?';
        ++in;
        --inLeft;
        iconv(asIconv(handle_), nullptr, nullptr, nullptr, nullptr);
    }
    char* o = buffer;
    size_t outLeft = sizeof buffer;
    iconv(asIconv(handle_), nullptr, nullptr, &o, &outLeft);
    out.append(buffer, static_cast<size_t>(o - buffer));
    return out;
}

std::string sourceCharsetForLcid(unsigned lcid)
{
    return lcid == 1041 ? "CP932" : "WINDOWS-1252";
}

std::string terminalCharset()
{
    const char* codeset = nl_langinfo(CODESET);
    std::string result = codeset != nullptr ? codeset : "";
    if (!result.empty() && result != "ANSI_X3.4-1968") return result;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        std::string v = value;
        for (char& c : v)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (v.find("utf-8") != std::string::npos || v.find("utf8") != std::string::npos)
            return "UTF-8";
        break;
    }
    return result.empty() ? "ANSI_X3.4-1968" : result;
}

size_t textColumns(const std::string& text, bool doubleByte)
{
    size_t columns = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t n = charLength(text, i, doubleByte);
        columns += n;
        i += n;
    }
    return columns;
}

std::vector<std::string> wrapText(const std::string& text, size_t width, bool doubleByte)
{
    if (width == 0) width = 1;
    std::vector<std::string> result;
    for (const std::string& line : splitLines(text)) {
        std::string rest = line;
        while (textColumns(rest, doubleByte) > width) {
            // The longest head that fits, in whole characters.
            size_t cut = 0, columns = 0, lastBlank = std::string::npos;
            while (cut < rest.size()) {
                const size_t n = charLength(rest, cut, doubleByte);
                if (columns + n > width) break;
                if (rest[cut] == ' ') lastBlank = cut;
                columns += n;
                cut += n;
            }
            if (cut == 0) cut = charLength(rest, 0, doubleByte);
            size_t next = cut;
            if (rest[cut] == ' ') {
                // The break falls on a blank: it disappears.
                next = cut + 1;
            } else if (lastBlank != std::string::npos && lastBlank > 0 && lastBlank >= width / 2) {
                cut = lastBlank;
                next = lastBlank + 1;
            }
            result.push_back(rest.substr(0, cut));
            rest.erase(0, next);
        }
        result.push_back(rest);
    }
    return result;
}

std::string stripMnemonic(const std::string& text, char* mnemonic)
{
    std::string out;
    if (mnemonic != nullptr) *mnemonic = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size()) break;
        ++i;
        if (text[i] != '&' && mnemonic != nullptr && *mnemonic == 0)
            *mnemonic = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        out += text[i];
    }
    return out;
}
