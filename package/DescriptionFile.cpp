// The package description file: finding it and parsing its two stretches.
#include <cstring>
#include <string>

#include "package/PackageReading.h"

namespace packagereading {

namespace {

constexpr const char* kHeader = "[UPGRADEINFORMATION]";
constexpr const char* kOptionHeader = "[OPTION]";
constexpr const char* kSecondCandidate = "orvefirm.ini";
// A file name longer than this does not fit its field.
constexpr size_t kFileNameLimit = 32;

bool beginsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The value's text ends at the line's end or at its first NUL byte.
size_t valueLength(const std::string& line, size_t from)
{
    const size_t nul = line.find('\0', from);
    return (nul == std::string::npos ? line.size() : nul) - from;
}

bool isShiftJisLeadByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// How many bytes of `text` fit in `limit` without cutting a Shift-JIS
// character in two. The characters are walked from the start, since a
// trail byte can look like a lead byte.
size_t wholeCharacters(const char* text, size_t limit)
{
    size_t length = 0;
    while (length < limit) {
        const size_t width = isShiftJisLeadByte(text[length]) ? 2 : 1;
        if (length + width > limit) break;
        length += width;
    }
    return length;
}

// Writes a text value into a fixed field, cut to what fits before the
// terminating zero, before a character that would not fit whole. The field is
// cleared first, so nothing of an earlier value survives.
void storeText(char* field, size_t fieldSize, const std::string& line, size_t from)
{
    std::memset(field, 0, fieldSize);
    size_t length = valueLength(line, from);
    if (length > fieldSize - 1) length = wholeCharacters(line.data() + from, fieldSize - 1);
    std::memcpy(field, line.data() + from, length);
}

// A file name is never cut, since a cut name would open another file: a name
// that does not fit leaves the field empty and marks the package unsound
// until a later line for the same key gives one that fits.
void storeFileName(char* field, size_t fieldSize, bool& tooLong, const std::string& line,
                   size_t from)
{
    std::memset(field, 0, fieldSize);
    const size_t length = valueLength(line, from);
    tooLong = length > kFileNameLimit;
    if (!tooLong) std::memcpy(field, line.data() + from, length);
}

struct ParseState {
    bool firmwareNameTooLong = false;
    bool epsNameTooLong = false;
};

void applyIdentityLine(const std::string& line, const std::string& upper, ParseState& state)
{
    enum class Kind { Text, FileName, Number };
    struct Key {
        const char* key;
        Kind kind;
        char* text;
        size_t textSize;
        bool* tooLong;
        uint32_t* number;
    };
    const Key keys[] = {
        {"APPLICATIONTITLE=", Kind::Text, package.applicationTitle, sizeof package.applicationTitle,
         nullptr, nullptr},
        {"INQUIRY=", Kind::Text, package.inquiryList, sizeof package.inquiryList, nullptr, nullptr},
        {"FIRMWAREFILENAME=", Kind::FileName, package.firmwareFileName,
         sizeof package.firmwareFileName, &state.firmwareNameTooLong, nullptr},
        {"VERSION=", Kind::Text, package.firmwareVersion, sizeof package.firmwareVersion, nullptr,
         nullptr},
        {"FIRMWAREFILESIZE=", Kind::Number, nullptr, 0, nullptr, &package.firmwareFileSize},
        {"BUFFERSIZE=", Kind::Number, nullptr, 0, nullptr, &package.bufferSize},
        {"EPS FIRMWAREFILENAME=", Kind::FileName, package.epsFileName, sizeof package.epsFileName,
         &state.epsNameTooLong, nullptr},
        {"EPS FIRMWAREFILESIZE=", Kind::Number, nullptr, 0, nullptr, &package.epsFileSize},
        {"EPS VERSION=", Kind::Text, package.epsVersion, sizeof package.epsVersion, nullptr,
         nullptr},
    };
    for (const Key& key : keys) {
        if (!beginsWith(upper, key.key)) continue;
        const size_t from = std::strlen(key.key);
        switch (key.kind) {
        case Kind::Text:
            storeText(key.text, key.textSize, line, from);
            break;
        case Kind::FileName:
            storeFileName(key.text, key.textSize, *key.tooLong, line, from);
            break;
        case Kind::Number:
            *key.number = static_cast<uint32_t>(parseDecimal(line.c_str() + from));
            break;
        }
        return;
    }
}

void applyOptionLine(const std::string& upper)
{
    enum class Test { Yes, No, Number };
    struct Key {
        const char* key;
        Test test;
        uint8_t* field;
        uint8_t value;
    };
    PackageOptions& o = package.options;
    const Key keys[] = {
        {"USE SCSIPASSTHROUGHINTERFACE ON WINNT=", Test::No, &o.noPassThrough, 1},
        {"USE MELCO EXTERNAL DRIVE INQUIRY=", Test::Yes, &o.melcoInquiry, 1},
        {"USE PCB VERSION CHECK=", Test::Number, &o.pcbVersion, 0},
        {"USE DELETE FILE=", Test::No, &o.noDeleteFile, 1},
        {"USE RESTART=", Test::No, &o.noRestart, 1},
        {"USE BINARY INFORMATION=", Test::No, &o.noBinaryInformation, 1},
        {"USE CDR CAUTION=", Test::Yes, &o.cautionKind, 1},
        {"USE CDRW CAUTION=", Test::Yes, &o.cautionKind, 2},
        {"USE CDROM CAUTION=", Test::Yes, &o.cautionKind, 3},
        {"USE DVDRW CAUTION=", Test::Yes, &o.cautionKind, 4},
        {"UPDATE WAIT TIME=", Test::Number, &o.updateWaitTime, 0},
        {"USE TWICE UPDATE=", Test::Yes, &o.twiceUpdate, 1},
        {"USE UPDATE AFTER CMD=", Test::Yes, &o.updateAfterCommand, 1},
    };
    for (const Key& key : keys) {
        if (!beginsWith(upper, key.key)) continue;
        const std::string value = upper.substr(std::strlen(key.key));
        switch (key.test) {
        case Test::Yes:
            if (beginsWith(value, "YES")) *key.field = key.value;
            break;
        case Test::No:
            if (beginsWith(value, "NO")) *key.field = key.value;
            break;
        case Test::Number:
            *key.field = static_cast<uint8_t>(static_cast<uint32_t>(parseDecimal(value.c_str())));
            break;
        }
        return;
    }
}

Handle openDescriptionFile()
{
    Handle file = sys().openFileForReading(moduleFileTitle() + ".INI");
    if (file == nullptr) file = sys().openFileForReading(kSecondCandidate);
    return file;
}

PackageResult parse(LineReader& reader, ParseState& state)
{
    using Status = LineReader::Status;
    std::string line;

    // Everything before the header is ignored.
    for (;;) {
        if (reader.next(line) != Status::Line) return packageresult::NoHeader;
        if (beginsWith(upperCased(line), kHeader)) break;
    }

    // The identity stretch runs to the option header.
    for (;;) {
        if (reader.next(line) != Status::Line) return packageresult::NoOptionSection;
        const std::string upper = upperCased(line);
        if (beginsWith(upper, kOptionHeader)) break;
        applyIdentityLine(line, upper, state);
    }

    // The option stretch runs to the end of the file.
    for (;;) {
        const Status status = reader.next(line);
        if (status == Status::End) return packageresult::Ok;
        if (status == Status::Failed) return packageresult::NoOptionSection;
        applyOptionLine(upperCased(line));
    }
}

} // namespace

PackageResult readDescriptionFile()
{
    Handle file = openDescriptionFile();
    if (file == nullptr) return packageresult::NoDescriptionFile;
    ParseState state;
    PackageResult result;
    {
        LineReader reader(file);
        result = parse(reader, state);
    }
    sys().closeFile(file);
    if (result != packageresult::Ok) return result;
    if (state.firmwareNameTooLong || state.epsNameTooLong) return packageresult::FileNameTooLong;
    return packageresult::Ok;
}

int32_t parseDecimal(const char* text)
{
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    while (isSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    uint32_t value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10u + static_cast<uint32_t>(*text - '0');
        ++text;
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

std::string upperCased(const std::string& text)
{
    std::string upper = text;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

std::string squeezeBlanks(const std::string& text)
{
    std::string squeezed;
    squeezed.reserve(text.size());
    for (const char c : text) {
        if (c == ' ' && !squeezed.empty() && squeezed.back() == ' ') continue;
        squeezed.push_back(c);
    }
    return squeezed;
}

} // namespace packagereading
