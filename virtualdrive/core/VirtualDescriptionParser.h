// Reading the drive description format (docs/virtual-drive.md): the value
// parsers and the parser that walks the sections and their keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtualdrive/core/VirtualBus.h"

namespace virtualdescription {

std::string trim(const std::string& s);
std::string lower(std::string s);
std::vector<std::string> split(const std::string& s, char separator);
std::vector<std::string> words(const std::string& s);
// Decimal, or hexadecimal with 0x, no larger than `max`.
std::optional<uint32_t> number(const std::string& text, uint32_t max);
std::optional<uint8_t> hexByte(const std::string& s);
std::optional<VirtualSense> senseTriple(const std::string& text);
std::optional<bool> yesNo(const std::string& text);
// A value in double quotes keeps its blanks and may hold any byte as \xNN
// (and \\ and \"); the quotes go. Nothing when an escape is malformed.
std::optional<std::string> unquote(const std::string& s);
std::optional<uint8_t> opcodeOf(const std::string& text);
std::optional<VirtualStatus> turAnswer(const std::string& text);

class Parser {
public:
    Parser(VirtualBus& bus) : bus_(bus) {}

    std::vector<std::string> run(const std::string& text);

private:
    enum class Section { None, Aspi, Adapter, Drive };

    void error(size_t line, const std::string& message);
    void error(const std::string& message) { error(line_, message); }

    void handle(const std::string& raw);
    void header(const std::string& s);
    void aspiKey(const std::string& key, const std::string& value);
    void adapterKey(const std::string& key, const std::string& value);
    bool setByte(const std::string& key, const std::string& value, uint8_t& field);
    void setU32(const std::string& key, const std::string& value, uint32_t& field, uint32_t max);
    void setText(const std::string& key, const std::string& value, std::string& field,
                 size_t width);
    void driveKey(const std::string& key, const std::string& value);
    void fault(const std::string& value);
    static bool occurrences(const std::string& v, VirtualFault& f);
    void finishDrive();

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

} // namespace virtualdescription
