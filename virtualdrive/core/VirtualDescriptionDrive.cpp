// The keys of a [drive] section, its fault rules among them.
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualDescriptionParser.h"

namespace virtualdescription {

bool Parser::setByte(const std::string& key, const std::string& value, uint8_t& field)
{
    const auto n = number(value, 255);
    if (!n)
        error(key + " must be 0 to 255");
    else
        field = static_cast<uint8_t>(*n);
    return n.has_value();
}

void Parser::setU32(const std::string& key, const std::string& value, uint32_t& field, uint32_t max)
{
    const auto n = number(value, max);
    if (!n)
        error(key + " must be 0 to " + std::to_string(max));
    else
        field = *n;
}

void Parser::setText(const std::string& key, const std::string& value, std::string& field,
                     size_t width)
{
    const auto text = unquote(value);
    if (!text)
        error(key + ": bad escape in quoted text");
    else if (text->size() > width)
        error(key + " has more than " + std::to_string(width) + " characters");
    else
        field = *text;
}

void Parser::driveKey(const std::string& key, const std::string& value)
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
            if (!answer) return error("tur answers are ready, busy or KK-AA-QQ: \"" + item + "\"");
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

void Parser::fault(const std::string& value)
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
        if (!op) return error("fault needs an opcode, open or caps first: \"" + parts[0] + "\"");
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
            if (f.on != VirtualFault::On::Command) return error(k + " applies to commands only");
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

bool Parser::occurrences(const std::string& v, VirtualFault& f)
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
} // namespace virtualdescription
