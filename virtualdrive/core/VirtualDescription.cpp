// The drive description format (docs/virtual-drive.md): sections [aspi],
// [adapter N] and [drive], "key = value" lines, "#" comments.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualBus.h"
#include "virtualdrive/core/VirtualDescriptionParser.h"

namespace virtualdescription {

std::vector<std::string> Parser::run(const std::string& text)
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

void Parser::error(size_t line, const std::string& message)
{
    errors_.push_back("line " + std::to_string(line) + ": " + message);
}

void Parser::handle(const std::string& raw)
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

void Parser::header(const std::string& s)
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

void Parser::aspiKey(const std::string& key, const std::string& value)
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

void Parser::adapterKey(const std::string& key, const std::string& value)
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

void Parser::finishDrive()
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
} // namespace virtualdescription

std::vector<std::string> parseVirtualDrives(const std::string& text, VirtualBus& bus)
{
    return virtualdescription::Parser(bus).run(text);
}

std::vector<std::string> loadVirtualDrives(const std::string& path, VirtualBus& bus)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {"cannot read " + path};
    std::ostringstream text;
    text << in.rdbuf();
    return parseVirtualDrives(text.str(), bus);
}
