// The values of the drive description format: numbers, bytes, sense
// triples, yes/no, quoted texts, command names and TEST UNIT READY answers.
#include <cctype>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualDescriptionParser.h"

namespace virtualdescription {

std::string trim(const std::string& s)
{
    size_t b = 0;
    size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> split(const std::string& s, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, separator))
        parts.push_back(trim(part));
    return parts;
}

std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

std::optional<uint32_t> number(const std::string& text, uint32_t max)
{
    std::string s = lower(trim(text));
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && s[1] == 'x') {
        base = 16;
        s = s.substr(2);
    }
    if (s.empty() || s.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : s) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > max) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint8_t> hexByte(const std::string& s)
{
    if (s.empty() || s.size() > 2) return std::nullopt;
    const auto v = number("0x" + s, 0xFF);
    if (!v) return std::nullopt;
    return static_cast<uint8_t>(*v);
}

std::optional<VirtualSense> senseTriple(const std::string& text)
{
    const auto parts = split(text, '-');
    if (parts.size() != 3) return std::nullopt;
    const auto k = hexByte(parts[0]);
    const auto a = hexByte(parts[1]);
    const auto q = hexByte(parts[2]);
    if (!k || !a || !q) return std::nullopt;
    return VirtualSense{*k, *a, *q};
}

std::optional<bool> yesNo(const std::string& text)
{
    const std::string s = lower(text);
    if (s == "yes" || s == "on" || s == "1") return true;
    if (s == "no" || s == "off" || s == "0") return false;
    return std::nullopt;
}

std::optional<std::string> unquote(const std::string& s)
{
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return s;
    std::string out;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (i + 2 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
        } else if (i + 4 < s.size() && s[i + 1] == 'x') {
            const auto byte = hexByte(s.substr(i + 2, 2));
            if (!byte || s.substr(i + 2, 2).size() != 2) return std::nullopt;
            out += static_cast<char>(*byte);
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::optional<uint8_t> opcodeOf(const std::string& text)
{
    static const struct {
        const char* name;
        uint8_t opcode;
    } names[] = {{"tur", 0x00},         {"test-unit-ready", 0x00}, {"inquiry", 0x12},
                 {"start-stop", 0x1B},  {"eject", 0x1B},           {"write-buffer", 0x3B},
                 {"read-buffer", 0x3C}, {"vendor", 0xF5}};
    const std::string s = lower(text);
    for (const auto& n : names) {
        if (s == n.name) return n.opcode;
    }
    return hexByte(s.size() > 2 && s[0] == '0' && s[1] == 'x' ? s.substr(2) : s);
}

std::optional<VirtualStatus> turAnswer(const std::string& text)
{
    const std::string s = lower(text);
    if (s == "ready" || s == "good") return VirtualStatus::ready();
    if (s == "busy") {
        VirtualStatus busy;
        busy.targetStatus = 0x08;
        return busy;
    }
    const auto sense = senseTriple(s);
    if (!sense) return std::nullopt;
    return VirtualStatus::checkCondition(sense->key, sense->asc, sense->ascq);
}

} // namespace virtualdescription
