// Decodes the system's Shift-JIS texts so tests compare them with the
// Japanese as written.
#pragma once

#include <iconv.h>

#include <string>

inline std::string fromShiftJis(const std::string& bytes)
{
    iconv_t cd = iconv_open("UTF-8", "SHIFT_JIS");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
    std::string out(bytes.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* to = out.data();
    size_t toLeft = out.size();
    const size_t done = iconv(cd, &in, &inLeft, &to, &toLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return "<not Shift-JIS>";
    out.resize(out.size() - toLeft);
    return out;
}
