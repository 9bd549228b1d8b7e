// The firmware version comparison reads "1.04" the same in every locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "discovery/Eligibility.h"
#include "tests/unit/comma_locale.h"

namespace {

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
    const std::string locale = commaDecimalLocale();
    if (locale.empty()) GTEST_SKIP() << "no comma-decimal locale could be made";
    std::setlocale(LC_ALL, locale.c_str());
    float number = 0;
    std::sscanf("1,5", "%f", &number);
    ASSERT_EQ(number, 1.5f) << "the locale reads decimals with a comma";
    EXPECT_EQ(compareFirmwareVersions("1.04", "1.05"), VersionOrder::Older);
    EXPECT_EQ(compareFirmwareVersions("1.10", "1.9"), VersionOrder::Older);
    EXPECT_EQ(compareFirmwareVersions("1.05", "1.04"), VersionOrder::Newer);
    EXPECT_EQ(compareFirmwareVersions("1.04", "1.04"), VersionOrder::Same);
    std::setlocale(LC_ALL, "C");
}
