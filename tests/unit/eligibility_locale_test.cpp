// The firmware version comparison reads "1.04" the same in every locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "discovery/Eligibility.h"

namespace {

// Switches the C locale's numbers to one that writes decimals with a comma,
// compiling it into a private folder when the system has none; restores "C"
// afterwards.
class CommaLocale {
public:
    CommaLocale()
    {
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
            if (std::setlocale(LC_ALL, name) != nullptr) return;
        const std::string folder = ::testing::TempDir() + "orv-locales";
        const std::string command = "mkdir -p '" + folder + "' && localedef -i de_DE -f UTF-8 '" +
                                    folder + "/de_DE.UTF-8' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) return;
        setenv("LOCPATH", folder.c_str(), 1);
        std::setlocale(LC_ALL, "de_DE.UTF-8");
    }
    ~CommaLocale()
    {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
    }
    bool active() const
    {
        float number = 0;
        return std::sscanf("1,5", "%f", &number) == 1 && number == 1.5f;
    }
};

VersionOrder byScanf(const std::string& ours, const std::string& theirs)
{
    auto comparable = [](const std::string& v) {
        return v.size() >= 2 && v[1] == '.' && v[0] != '0';
    };
    if (!comparable(ours) || !comparable(theirs)) return VersionOrder::NotCompared;
    float a = 0, b = 0;
    std::sscanf(ours.c_str(), "%f", &a);
    std::sscanf(theirs.c_str(), "%f", &b);
    return a < b ? VersionOrder::Older : a > b ? VersionOrder::Newer : VersionOrder::Same;
}

} // namespace

// In the "C" locale the comparison answers exactly what "%f" answered, for
// every four-character version made of the characters that matter to it.
TEST(VersionComparison, AgreesWithScanfInTheCLocale)
{
    std::setlocale(LC_ALL, "C");
    const std::string alphabet = "019 +-.eEax";
    std::vector<std::string> versions;
    for (char a : alphabet)
        for (char c : alphabet)
            for (char d : alphabet)
                versions.push_back(std::string{a, '.', c, d});
    versions.insert(versions.end(), {"1.0", "1.", "1", "", "9.e9", "1.e5", "1.0e", "+-.5"});
    int compared = 0;
    for (const std::string& ours : versions) {
        for (const std::string& theirs :
             {std::string("1.05"), std::string(" .50"), std::string("-.25"), std::string("1.e3")}) {
            ASSERT_EQ(compareFirmwareVersions(ours, theirs), byScanf(ours, theirs))
                << '"' << ours << "\" against \"" << theirs << '"';
            ++compared;
        }
    }
    EXPECT_GT(compared, 5000);
}

TEST(VersionComparison, IndependentOfACommaDecimalLocale)
{
    CommaLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no comma-decimal locale could be made";
    EXPECT_EQ(compareFirmwareVersions("1.04", "1.05"), VersionOrder::Older);
    EXPECT_EQ(compareFirmwareVersions("1.10", "1.9"), VersionOrder::Older);
    EXPECT_EQ(compareFirmwareVersions("1.05", "1.04"), VersionOrder::Newer);
    EXPECT_EQ(compareFirmwareVersions("1.04", "1.04"), VersionOrder::Same);
}
