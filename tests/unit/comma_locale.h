// A locale that writes decimals with a comma, for tests of number reading.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

// The name of a comma-decimal locale setlocale can load, compiling one into a
// private folder (named by LOCPATH) when the system has none; "" when none
// can be had.
inline std::string commaDecimalLocale()
{
    auto usable = [](const char* name) {
        const char* before = std::setlocale(LC_NUMERIC, nullptr);
        const std::string saved = before != nullptr ? before : "C";
        const bool ok = std::setlocale(LC_NUMERIC, name) != nullptr;
        std::setlocale(LC_NUMERIC, saved.c_str());
        return ok;
    };
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if (usable(name)) return name;
    const std::string folder = ::testing::TempDir() + "orv-locales";
    // Made aside and renamed into place, so tests running in parallel never
    // load a half-written locale.
    const std::string command = "d='" + folder +
                                "'; [ -d \"$d/de_DE.UTF-8\" ] || { t=\"$d.$$\"; "
                                "mkdir -p \"$t\" \"$d\" && localedef -i de_DE -f UTF-8 "
                                "\"$t/de_DE.UTF-8\" >/dev/null 2>&1; "
                                "mv -T \"$t/de_DE.UTF-8\" \"$d/de_DE.UTF-8\" 2>/dev/null; "
                                "rm -rf \"$t\"; }; [ -d \"$d/de_DE.UTF-8\" ]";
    if (std::system(command.c_str()) != 0) return "";
    setenv("LOCPATH", folder.c_str(), 1);
    return usable("de_DE.UTF-8") ? "de_DE.UTF-8" : "";
}
