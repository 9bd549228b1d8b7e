// Text handling of the terminal front end. The program's texts are 8-bit
// strings in the user's Windows code page (Windows-1252, or Shift-JIS for
// Japanese); the terminal speaks the locale's encoding. Layout (wrapping,
// alignment) is done on the program's own bytes, where a Shift-JIS double-byte
// character is two columns wide and every other character one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class TextConverter {
public:
    // `from` and `to` are iconv names. A failing pair converts bytes below
    // 0x80 unchanged and shows every other byte as '?'.
    TextConverter(const std::string& from, const std::string& to);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    std::string convert(const std::string& text) const;
    bool ok() const { return handle_ != nullptr; }

private:
    void* handle_ = nullptr;
};

// The iconv name of the program's code page for a locale identifier.
std::string sourceCharsetForLcid(unsigned lcid);
// The terminal's encoding: the codeset of the current locale (set it with
// setlocale(LC_ALL, "") first), or UTF-8 when the locale could not be loaded
// but the locale variables ask for UTF-8.
std::string terminalCharset();

// The display columns of a string in the program's code page.
size_t textColumns(const std::string& text, bool doubleByte);
// Splits `text` at its line breaks ("\r\n", "\n" or "\r") and wraps every
// line to at most `width` columns, at a blank where one is near the end,
// never inside a double-byte character.
std::vector<std::string> wrapText(const std::string& text, size_t width, bool doubleByte);
// A dialog text as displayed: "&&" is "&", a single '&' is dropped and
// marks the next character as the mnemonic (lower-cased, 0 when none).
std::string stripMnemonic(const std::string& text, char* mnemonic = nullptr);
