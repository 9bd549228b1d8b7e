// The drive description format (docs/virtual-drive.md): sections [aspi],
// [adapter N] and [drive], "key = value" lines, "#" comments.
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualBus.h"

namespace {

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

// Decimal, or hexadecimal with 0x, no larger than `max`.
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

// A value in double quotes keeps its blanks and may hold any byte as \xNN
// (and \\ and \"); the quotes go. Nothing when an escape is malformed.
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

class Parser {
public:
    Parser(VirtualBus& bus) : bus_(bus) {}

    std::vector<std::string> run(const std::string& text)
    {
        std::istringstream in(text);
        std::string raw;
        while (std::getline(in, raw)) {
            ++line_;
            handle(raw);
        }
        finishDrive();
        return std::move(errors_);
    }

private:
    enum class Section { None, Aspi, Adapter, Drive };

    void error(size_t line, const std::string& message)
    {
        errors_.push_back("line " + std::to_string(line) + ": " + message);
    }
    void error(const std::string& message) { error(line_, message); }

    void handle(const std::string& raw)
    {
        // A '#' starts a comment, except inside a quoted value.
        std::string s = raw;
        bool quoted = false;
        for (size_t i = 0; i < s.size(); ++i) {
            if (quoted && s[i] == '\\') {
                ++i;
                continue;
            }
            if (s[i] == '"') quoted = !quoted;
            if (s[i] == '#' && !quoted) {
                s.resize(i);
                break;
            }
        }
        s = trim(s);
        if (s.empty()) return;
        if (s.front() == '[') return header(s);
        const size_t eq = s.find('=');
        if (eq == std::string::npos) return error("expected \"key = value\"");
        const std::string key = lower(trim(s.substr(0, eq)));
        const std::string value = trim(s.substr(eq + 1));
        if (value.empty()) return error("no value for " + key);
        switch (section_) {
        case Section::None:
            return error("\"" + key + "\" outside a section");
        case Section::Aspi:
            return aspiKey(key, value);
        case Section::Adapter:
            return adapterKey(key, value);
        case Section::Drive:
            return driveKey(key, value);
        }
    }

    void header(const std::string& s)
    {
        finishDrive();
        section_ = Section::None;
        if (s.back() != ']') return error("unclosed section header");
        const auto parts = words(lower(s.substr(1, s.size() - 2)));
        if (parts.size() == 1 && parts[0] == "drive") {
            section_ = Section::Drive;
            drive_ = VirtualDriveConfig{};
            driveLine_ = line_;
            hasLetter_ = false;
        } else if (parts.size() == 1 && parts[0] == "aspi") {
            section_ = Section::Aspi;
        } else if (parts.size() == 2 && parts[0] == "adapter") {
            const auto n = number(parts[1], 255);
            if (!n) return error("adapter number must be 0 to 255");
            adapterNumber_ = static_cast<uint8_t>(*n);
            adapter_ = bus_.adapter(adapterNumber_).value_or(VirtualAdapter{});
            bus_.setAdapter(adapterNumber_, adapter_);
            section_ = Section::Adapter;
        } else {
            error("unknown section " + s);
        }
    }

    void aspiKey(const std::string& key, const std::string& value)
    {
        if (key == "load") {
            const std::string v = lower(value);
            if (v == "loaded")
                bus_.aspiLoad = VirtualAspiLoad::Loaded;
            else if (v == "failed")
                bus_.aspiLoad = VirtualAspiLoad::Failed;
            else if (v == "missing-entry")
                bus_.aspiLoad = VirtualAspiLoad::MissingEntry;
            else
                error("load is loaded, failed or missing-entry");
        } else if (key == "support") {
            const auto n = number(value, 0xFFFFFFFF);
            if (!n) return error("support must be a number");
            bus_.supportInfo = *n;
        } else {
            error("unknown key \"" + key + "\" in [aspi]");
        }
    }

    void adapterKey(const std::string& key, const std::string& value)
    {
        std::optional<uint32_t> n;
        if (key == "alignment") {
            if (!(n = number(value, 0xFFFF))) return error("alignment must be 0 to 0xFFFF");
            adapter_.alignmentMask = static_cast<uint16_t>(*n);
        } else if (key == "targets") {
            if (!(n = number(value, 255))) return error("targets must be 0 to 255");
            adapter_.targetCount = static_cast<uint8_t>(*n);
        } else if (key == "host-id") {
            if (!(n = number(value, 255))) return error("host-id must be 0 to 255");
            adapter_.hostId = static_cast<uint8_t>(*n);
        } else {
            return error("unknown key \"" + key + "\" in [adapter]");
        }
        bus_.setAdapter(adapterNumber_, adapter_);
    }

    bool setByte(const std::string& key, const std::string& value, uint8_t& field)
    {
        const auto n = number(value, 255);
        if (!n)
            error(key + " must be 0 to 255");
        else
            field = static_cast<uint8_t>(*n);
        return n.has_value();
    }

    void setU32(const std::string& key, const std::string& value, uint32_t& field, uint32_t max)
    {
        const auto n = number(value, max);
        if (!n)
            error(key + " must be 0 to " + std::to_string(max));
        else
            field = *n;
    }

    void setText(const std::string& key, const std::string& value, std::string& field, size_t width)
    {
        const auto text = unquote(value);
        if (!text)
            error(key + ": bad escape in quoted text");
        else if (text->size() > width)
            error(key + " has more than " + std::to_string(width) + " characters");
        else
            field = *text;
    }

    void driveKey(const std::string& key, const std::string& value)
    {
        VirtualDriveConfig& d = drive_;
        if (key == "letter") {
            const std::string v = value;
            if (v.size() != 1 || !std::isalpha(static_cast<unsigned char>(v[0])))
                return error("letter must be one letter A to Z");
            d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
            hasLetter_ = true;
        } else if (key == "address") {
            const auto parts = split(value, ':');
            const auto a = parts.size() == 2 ? number(parts[0], 255) : std::nullopt;
            const auto t = parts.size() == 2 ? number(parts[1], 255) : std::nullopt;
            if (!a || !t) return error("address must be adapter:target, each 0 to 255");
            d.onAspi = true;
            d.adapter = static_cast<uint8_t>(*a);
            d.target = static_cast<uint8_t>(*t);
        } else if (key == "drive-type") {
            setU32(key, value, d.driveType, 6);
        } else if (key == "type") {
            setByte(key, value, d.deviceType);
        } else if (key == "byte3") {
            setByte(key, value, d.inquiryByte3);
        } else if (key == "vendor") {
            setText(key, value, d.vendor, 8);
        } else if (key == "product") {
            setText(key, value, d.product, 16);
        } else if (key == "revision") {
            setText(key, value, d.revision, 4);
        } else if (key == "inquiry-13") {
            const auto b = yesNo(value);
            if (!b) return error("inquiry-13 is yes or no");
            d.answersInquiry13 = *b;
        } else if (key == "pcb") {
            setByte(key, value, d.pcbVersion);
        } else if (key == "eps-version") {
            setText(key, value, d.epsVersion, 7);
        } else if (key == "eps-new-version") {
            setText(key, value, d.epsNewVersion, 7);
        } else if (key == "eps-size") {
            uint32_t size = d.epsSize;
            setU32(key, value, size, 0xFFFFFF);
            d.epsSize = size;
        } else if (key == "flash-size") {
            setU32(key, value, d.flashSize, 0x2000000);
        } else if (key == "medium") {
            const std::string v = lower(value);
            if (v == "loaded")
                d.mediumLoaded = true;
            else if (v == "none")
                d.mediumLoaded = false;
            else
                error("medium is loaded or none");
        } else if (key == "tur") {
            std::vector<VirtualStatus> answers;
            for (const auto& item : split(value, ',')) {
                const auto answer = turAnswer(item);
                if (!answer)
                    return error("tur answers are ready, busy or KK-AA-QQ: \"" + item + "\"");
                answers.push_back(*answer);
            }
            d.turScript.insert(d.turScript.end(), answers.begin(), answers.end());
        } else if (key == "ask-again") {
            setU32(key, value, d.askAgainTimes, 1000);
        } else if (key == "ask-again-probe") {
            setU32(key, value, d.askAgainProbe, 1000);
        } else if (key == "latency") {
            setU32(key, value, d.latency, 3600000);
        } else if (key == "alignment") {
            setU32(key, value, d.passThroughMask, 0xFFFF);
        } else if (key == "completion") {
            const std::string v = lower(value);
            if (v == "immediate")
                d.deferredCompletion = false;
            else if (v == "deferred")
                d.deferredCompletion = true;
            else
                error("completion is immediate or deferred");
        } else if (key == "completion-delay") {
            setU32(key, value, d.completionDelay, 60000);
        } else if (key == "fault") {
            fault(value);
        } else {
            error("unknown key \"" + key + "\" in [drive]");
        }
    }

    void fault(const std::string& value)
    {
        const auto parts = words(value);
        VirtualFault f;
        const std::string selector = lower(parts[0]);
        if (selector == "open") {
            f.on = VirtualFault::On::Open;
        } else if (selector == "caps") {
            f.on = VirtualFault::On::Capabilities;
        } else {
            const auto op = opcodeOf(selector);
            if (!op)
                return error("fault needs an opcode, open or caps first: \"" + parts[0] + "\"");
            f.opcode = *op;
        }
        bool effect = false;
        for (size_t i = 1; i < parts.size(); ++i) {
            const size_t eq = parts[i].find('=');
            if (eq == std::string::npos)
                return error("fault setting without '=': \"" + parts[i] + "\"");
            const std::string k = lower(parts[i].substr(0, eq));
            const std::string v = parts[i].substr(eq + 1);
            std::optional<uint32_t> n;
            if (k == "mode" || k == "buffer") {
                if (f.on != VirtualFault::On::Command)
                    return error(k + " applies to commands only");
                if (!(n = number(v, 255))) return error(k + " must be 0 to 255");
                (k == "mode" ? f.mode : f.bufferId) = static_cast<uint8_t>(*n);
            } else if (k == "at") {
                if (!occurrences(v, f)) return error("at is N, N-M or N+ (from 1)");
            } else if (k == "access") {
                const std::string a = lower(v);
                if (f.on != VirtualFault::On::Open) return error("access applies to open only");
                if (a == "rw")
                    f.access = VirtualFault::Access::ReadWrite;
                else if (a == "ro")
                    f.access = VirtualFault::Access::ReadOnly;
                else if (a == "any")
                    f.access = VirtualFault::Access::Any;
                else
                    return error("access is rw, ro or any");
            } else if (k == "srb" || k == "ha" || k == "target") {
                if (!(n = number(v, 255))) return error(k + " must be 0 to 255");
                const auto b = static_cast<uint8_t>(*n);
                if (k == "srb")
                    f.status.srbStatus = b;
                else if (k == "ha")
                    f.status.haStatus = b;
                else
                    f.status.targetStatus = b;
                effect = true;
            } else if (k == "sense") {
                const auto sense = senseTriple(v);
                if (!sense) return error("sense is KK-AA-QQ in hexadecimal");
                f.status.sense = *sense;
                effect = true;
            } else if (k == "error") {
                if (!(n = number(v, 0xFFFFFFFF))) return error("error must be a number");
                f.status.systemError = *n;
                effect = true;
            } else if (k == "latency") {
                if (!(n = number(v, 3600000))) return error("latency must be 0 to 3600000");
                f.latency = *n;
                effect = true;
            } else if (k == "flip") {
                if (!(n = number(v, 0xFFFFFF))) return error("flip must be a number");
                f.flipBytes = *n;
                effect = true;
            } else {
                return error("unknown fault setting \"" + k + "\"");
            }
        }
        if (!effect && f.on == VirtualFault::On::Command)
            return error("fault has no effect (srb, ha, target, sense, error, latency or flip)");
        drive_.faults.push_back(f);
    }

    static bool occurrences(const std::string& v, VirtualFault& f)
    {
        std::optional<uint32_t> from;
        std::optional<uint32_t> to;
        if (!v.empty() && v.back() == '+') {
            from = number(v.substr(0, v.size() - 1), 0xFFFFFFFF);
            to = 0;
        } else if (const size_t dash = v.find('-'); dash != std::string::npos) {
            from = number(v.substr(0, dash), 0xFFFFFFFF);
            to = number(v.substr(dash + 1), 0xFFFFFFFF);
            if (from && to && *to < *from) return false;
        } else {
            from = number(v, 0xFFFFFFFF);
            to = from;
        }
        if (!from || !to || *from == 0) return false;
        f.from = *from;
        f.to = *to;
        return true;
    }

    void finishDrive()
    {
        if (section_ != Section::Drive) return;
        section_ = Section::None;
        if (!hasLetter_ && !drive_.onAspi)
            return error(driveLine_, "drive has neither letter nor address");
        if (hasLetter_ && bus_.driveAtLetter(drive_.letter) != nullptr)
            return error(driveLine_, std::string("drive letter ") + drive_.letter + " is taken");
        if (drive_.onAspi && bus_.driveAt(drive_.adapter, drive_.target) != nullptr)
            return error(driveLine_, "address " + std::to_string(drive_.adapter) + ":" +
                                         std::to_string(drive_.target) + " is taken");
        if (bus_.addDrive(drive_) == nullptr) error(driveLine_, "drive could not be placed");
    }

    VirtualBus& bus_;
    std::vector<std::string> errors_;
    size_t line_ = 0;
    Section section_ = Section::None;
    VirtualDriveConfig drive_;
    size_t driveLine_ = 0;
    bool hasLetter_ = false;
    VirtualAdapter adapter_;
    uint8_t adapterNumber_ = 0;
};

} // namespace

std::vector<std::string> parseVirtualDrives(const std::string& text, VirtualBus& bus)
{
    return Parser(bus).run(text);
}

std::vector<std::string> loadVirtualDrives(const std::string& path, VirtualBus& bus)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {"cannot read " + path};
    std::ostringstream text;
    text << in.rdbuf();
    return parseVirtualDrives(text.str(), bus);
}
