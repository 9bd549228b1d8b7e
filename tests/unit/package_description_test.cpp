#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/unit/package_fixture.h"
#include "tests/unit/shift_jis.h"

using namespace packagetest;

namespace {

struct TextCase {
    const char* name;
    std::string lines; // identity lines after the base ones
    const char* (*field)();
    std::string expected;
};

const char* title()
{
    return package.applicationTitle;
}
const char* inquiry()
{
    return package.inquiryList;
}
const char* version()
{
    return package.firmwareVersion;
}
const char* epsVersion()
{
    return package.epsVersion;
}

} // namespace

TEST_F(PackageTest, TextKeysAreMatchedInAnyCaseAndKeepTheirValueAsWritten)
{
    const std::vector<TextCase> cases = {
        {"title with blanks", "APPLICATIONTITLE=Drive Tool  1 \n", title, "Drive Tool  1 "},
        {"lower-case key", "applicationtitle=lower Key\n", title, "lower Key"},
        {"mixed-case key", "Inquiry=ORVENTA X;ORVENTA Y;\n", inquiry, "ORVENTA X;ORVENTA Y;"},
        {"version case kept", "VERSION=2.a1\n", version, "2.a1"},
        {"eps version", "EPS VERSION=E1.02\n", epsVersion, "E1.02"},
        {"blank before key", " VERSION=9.99\n", version, "1.04"},
        {"blank before =", "VERSION =9.99\n", version, "1.04"},
        {"later shorter value clears the field", "VERSION=9.9\n", version, "9.9"},
        {"later empty value", "APPLICATIONTITLE=long title\nAPPLICATIONTITLE=T\n", title, "T"},
        {"value ends at NUL",
         std::string("VERSION=1\0"
                     "23\n",
                     13),
         version, "1"},
        {"option key in identity stretch is ignored", "USE RESTART=NO\n", version, "1.04"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        EXPECT_EQ(read(kBaseIdentity + c.lines), packageresult::Ok);
        EXPECT_EQ(std::string(c.field()), c.expected);
    }
}

TEST_F(PackageTest, OverlongTextValuesAreCutToTheirField)
{
    const std::string list = "A;" + std::string(298, 'b');
    std::string japanese128; // "ファーム" sixteen times
    for (int i = 0; i < 16; ++i)
        japanese128 += "\x83\x74\x83\x40\x81\x5B\x83\x80";
    std::string lookAlike; // "＝" (0x81 0x81) 64 times: every trail byte is a lead byte too
    for (int i = 0; i < 64; ++i)
        lookAlike += "\x81\x81";
    const std::vector<TextCase> cases = {
        {"title", "APPLICATIONTITLE=" + std::string(200, 't') + "\n", title, std::string(127, 't')},
        {"title that just fits", "APPLICATIONTITLE=" + std::string(127, 'u') + "\n", title,
         std::string(127, 'u')},
        {"inquiry list", "INQUIRY=" + list + "\n", inquiry, list.substr(0, 255)},
        {"version", "VERSION=1.045\n", version, "1.04"},
        {"eps version", "EPS VERSION=E1.0002XY\n", epsVersion, "E1.0002"},
        // Shift-JIS: the cut comes before a character that would not fit whole.
        {"Japanese title of 128 bytes", "APPLICATIONTITLE=" + japanese128 + "\n", title,
         japanese128.substr(0, 126)},
        {"trail bytes that look like lead bytes", "APPLICATIONTITLE=x" + lookAlike + "\n", title,
         "x" + lookAlike.substr(0, 126)},
        {"half-width katakana are single bytes",
         "APPLICATIONTITLE=" + std::string(128, '\xB1') + "\n", title, std::string(127, '\xB1')},
        {"Japanese at the end of the inquiry list",
         "INQUIRY=" + list.substr(0, 254) + "\x83\x41;\n", inquiry, list.substr(0, 254)},
        {"Japanese version", "VERSION=1.0\x83\x41\n", version, "1.0"},
        {"Japanese eps version", "EPS VERSION=E1.000\x83\x41\n", epsVersion, "E1.000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        EXPECT_EQ(read(kBaseIdentity + c.lines), packageresult::Ok);
        EXPECT_EQ(std::string(c.field()), c.expected);
        EXPECT_NE(fromShiftJis(c.field()), "<not Shift-JIS>");
    }
    // Nothing spilled into the neighbouring fields.
    resetPackage();
    ASSERT_EQ(read(kBaseIdentity + "VERSION=123456789\nEPS VERSION=ABCDEFGHIJKLM\n"),
              packageresult::Ok);
    EXPECT_EQ(std::string(package.firmwareFileName), "fw.bin");
    EXPECT_EQ(package.options.updateWaitTime, kDefaultUpdateWaitTime);
}

TEST_F(PackageTest, NumbersAreSigned32BitWithWraparound)
{
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"4096", 4096},
        {"  +2048", 2048},
        {"\t1024xyz", 1024},
        {"007", 7},
        {"-1", 0xFFFFFFFFu},
        {"2147483648", 0x80000000u},
        {"4294967297", 1},
        {"-2147483648", 0x80000000u},
        {"99999999999", static_cast<uint32_t>(99999999999ull)},
        {"- 5", 0},
        {"+-5", 0},
        {"abc", 0},
        {"", 0},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        resetPackage();
        // The EPS size is only stored while no EPS file is named.
        EXPECT_EQ(read(kBaseIdentity + "EPS FIRMWAREFILESIZE=" + text + "\n"), packageresult::Ok);
        EXPECT_EQ(package.epsFileSize, expected);
        EXPECT_EQ(static_cast<uint32_t>(packagereading::parseDecimal(text.c_str())), expected);
    }
}

TEST_F(PackageTest, SizeKeysFillTheirFields)
{
    system.addFile("big.bin", imageBytes(40000));
    ASSERT_EQ(read("inquiry=A;\nversion=1\nfirmwarefilename=big.bin\nfirmwarefilesize=40000\n"
                   "buffersize=2000\n"),
              packageresult::Ok);
    EXPECT_EQ(package.firmwareFileSize, 40000u);
    EXPECT_EQ(package.bufferSize, 2000u);
    EXPECT_EQ(std::string(package.firmwareFileName), "big.bin");
    resetPackage();
    ASSERT_EQ(read(kBaseIdentity), packageresult::Ok);
    EXPECT_EQ(package.bufferSize, kDefaultBufferSize);
}

TEST_F(PackageTest, OptionLinesSetFlagsAndNumbers)
{
    struct Case {
        const char* name;
        std::string lines;
        void (*expect)(PackageOptions&);
    };
    const std::vector<Case> cases = {
        {"none", "", [](PackageOptions&) {}},
        {"pass-through off", "USE SCSIPASSTHROUGHINTERFACE ON WINNT=NO\n",
         [](PackageOptions& o) { o.noPassThrough = 1; }},
        {"lower-case line", "use scsipassthroughinterface on winnt=no\n",
         [](PackageOptions& o) { o.noPassThrough = 1; }},
        {"pass-through yes", "USE SCSIPASSTHROUGHINTERFACE ON WINNT=YES\n", [](PackageOptions&) {}},
        {"melco yes", "USE MELCO EXTERNAL DRIVE INQUIRY=yes\n",
         [](PackageOptions& o) { o.melcoInquiry = 1; }},
        {"melco Y", "USE MELCO EXTERNAL DRIVE INQUIRY=Y\n", [](PackageOptions&) {}},
        {"pcb 3", "USE PCB VERSION CHECK=3\n", [](PackageOptions& o) { o.pcbVersion = 3; }},
        {"pcb 256", "USE PCB VERSION CHECK=256\n", [](PackageOptions&) {}},
        {"pcb -1", "USE PCB VERSION CHECK=-1\n", [](PackageOptions& o) { o.pcbVersion = 255; }},
        {"delete none", "USE DELETE FILE=none\n", [](PackageOptions& o) { o.noDeleteFile = 1; }},
        {"restart no", "Use Restart=no\n", [](PackageOptions& o) { o.noRestart = 1; }},
        {"restart blank no", "USE RESTART= NO\n", [](PackageOptions&) {}},
        {"restart key with blank", " USE RESTART=NO\nUSE RESTART =NO\n", [](PackageOptions&) {}},
        {"flags are never cleared", "USE RESTART=NO\nUSE RESTART=YES\n",
         [](PackageOptions& o) { o.noRestart = 1; }},
        {"binary information", "USE BINARY INFORMATION=NO\n",
         [](PackageOptions& o) { o.noBinaryInformation = 1; }},
        {"cdr", "USE CDR CAUTION=YES\n", [](PackageOptions& o) { o.cautionKind = 1; }},
        {"cdrw", "USE CDRW CAUTION=YES\n", [](PackageOptions& o) { o.cautionKind = 2; }},
        {"dvd yesterday", "USE DVDRW CAUTION=yesterday\n",
         [](PackageOptions& o) { o.cautionKind = 4; }},
        {"last passing caution decides",
         "USE CDR CAUTION=YES\nUSE CDROM CAUTION=YES\n"
         "USE CDR CAUTION=NO\n",
         [](PackageOptions& o) { o.cautionKind = 3; }},
        {"wait 300", "UPDATE WAIT TIME=300\n", [](PackageOptions& o) { o.updateWaitTime = 44; }},
        {"wait without digits", "UPDATE WAIT TIME=\n",
         [](PackageOptions& o) { o.updateWaitTime = 0; }},
        {"wait twice", "UPDATE WAIT TIME=5\nUPDATE WAIT TIME=30\n",
         [](PackageOptions& o) { o.updateWaitTime = 30; }},
        {"twice Y", "USE TWICE UPDATE=Y\n", [](PackageOptions&) {}},
        {"twice yes", "USE TWICE UPDATE=YES\n", [](PackageOptions& o) { o.twiceUpdate = 1; }},
        {"after cmd", "USE UPDATE AFTER CMD=YES\n",
         [](PackageOptions& o) { o.updateAfterCommand = 1; }},
        {"a later header does not end the stretch",
         "[UPGRADEINFORMATION]\n[OTHER]\n"
         "USE RESTART=NO\n",
         [](PackageOptions& o) { o.noRestart = 1; }},
        {"last line without line end", "USE TWICE UPDATE=YES",
         [](PackageOptions& o) { o.twiceUpdate = 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        package.options.osKind = 2; // set by start-up, untouched by the file
        PackageOptions expected{};
        expected.updateWaitTime = kDefaultUpdateWaitTime;
        expected.osKind = 2;
        c.expect(expected);
        EXPECT_EQ(read(kBaseIdentity, c.lines), packageresult::Ok);
        const PackageOptions& o = package.options;
        EXPECT_EQ(o.melcoInquiry, expected.melcoInquiry);
        EXPECT_EQ(o.noPassThrough, expected.noPassThrough);
        EXPECT_EQ(o.cautionKind, expected.cautionKind);
        EXPECT_EQ(o.pcbVersion, expected.pcbVersion);
        EXPECT_EQ(o.noRestart, expected.noRestart);
        EXPECT_EQ(o.noBinaryInformation, expected.noBinaryInformation);
        EXPECT_EQ(o.noDeleteFile, expected.noDeleteFile);
        EXPECT_EQ(o.updateWaitTime, expected.updateWaitTime);
        EXPECT_EQ(o.osKind, expected.osKind);
        EXPECT_EQ(o.twiceUpdate, expected.twiceUpdate);
        EXPECT_EQ(o.updateAfterCommand, expected.updateAfterCommand);
    }
}

TEST_F(PackageTest, IdentityKeysAfterTheOptionHeaderAreIgnored)
{
    ASSERT_EQ(read(kBaseIdentity, "VERSION=9.99\nAPPLICATIONTITLE=late\nBUFFERSIZE=1\n"),
              packageresult::Ok);
    EXPECT_EQ(std::string(package.firmwareVersion), "1.04");
    EXPECT_EQ(package.bufferSize, kDefaultBufferSize);
    EXPECT_NE(std::string(package.applicationTitle), "late");
}

TEST_F(PackageTest, FileStructureGivesItsCodes)
{
    const std::string head = "[UPGRADEINFORMATION]\n";
    const std::vector<std::pair<std::string, PackageResult>> cases = {
        {"", packageresult::NoHeader},
        {"no header here\n", packageresult::NoHeader},
        {" [UPGRADEINFORMATION]\n" + kBaseIdentity + "[OPTION]\n", packageresult::NoHeader},
        {"[UPGRADEINFORMATION", packageresult::NoHeader},
        {"[UPGRADEINFORMATION]", packageresult::NoOptionSection},
        {head, packageresult::NoOptionSection},
        {head + kBaseIdentity, packageresult::NoOptionSection},
        {head + kBaseIdentity + "[OPTIONS]\n", packageresult::NoOptionSection},
        {head + kBaseIdentity + " [OPTION]\n", packageresult::NoOptionSection},
        {head + kBaseIdentity + "[OPTION]", packageresult::Ok},
        {head + kBaseIdentity + "[option] remark\n", packageresult::Ok},
        {"[upgradeinformation] remark\n" + kBaseIdentity + "[OPTION]\n", packageresult::Ok},
        {"; leading remark\n\n[Other]\nVERSION=x\n" + head + kBaseIdentity + "[OPTION]\n",
         packageresult::Ok},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        resetPackage();
        EXPECT_EQ(readText(text), expected);
        EXPECT_EQ(system.openFileCount(), 0);
    }
}

TEST_F(PackageTest, LinesOfAnyLengthAndBothLineEndsAreRead)
{
    // The padding moves the keys across every place where a read piece ends.
    for (size_t pad = 1000; pad < 1040; ++pad) {
        SCOPED_TRACE(pad);
        resetPackage();
        const std::string text = "; " + std::string(pad, 'r') +
                                 "\r\n[UPGRADEINFORMATION]\r\nINQUIRY=A;\r\nVERSION=1.05\r\n"
                                 "FIRMWAREFILENAME=fw.bin\r\nFIRMWAREFILESIZE=16384\r\n"
                                 "APPLICATIONTITLE=" +
                                 std::string(pad, 't') + "\r\n[OPTION]\r\nUSE RESTART=NO\r\n";
        ASSERT_EQ(readText(text), packageresult::Ok);
        EXPECT_EQ(std::string(package.firmwareVersion), "1.05");
        EXPECT_EQ(std::string(package.applicationTitle), std::string(127, 't'));
        EXPECT_EQ(package.options.noRestart, 1);
    }
}

TEST_F(PackageTest, TheFirstCandidateThatOpensIsUsed)
{
    const std::string good = "[UPGRADEINFORMATION]\n" + kBaseIdentity + "[OPTION]\n";
    struct Case {
        const char* name;
        std::string program;
        std::vector<std::pair<std::string, std::string>> files;
        PackageResult expected;
        std::vector<std::string> opened;
    };
    const std::vector<Case> cases = {
        {"none",
         "UPDATE.EXE",
         {},
         packageresult::NoDescriptionFile,
         {"UPDATE.INI", "orvefirm.ini"}},
        {"second",
         "UPDATE.EXE",
         {{"orvefirm.ini", good}},
         packageresult::Ok,
         {"UPDATE.INI", "orvefirm.ini", "fw.bin"}},
        {"first without header hides the second",
         "UPDATE.EXE",
         {{"UPDATE.INI", "nothing\n"}, {"orvefirm.ini", good}},
         packageresult::NoHeader,
         {"UPDATE.INI"}},
        {"dotted title",
         "FW.V2.EXE",
         {{"FW.V2.INI", good}},
         packageresult::Ok,
         {"FW.V2.INI", "fw.bin"}},
        {"title without extension",
         "Tool",
         {{"Tool.INI", good}},
         packageresult::Ok,
         {"Tool.INI", "fw.bin"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedSystem own;
        own.install();
        own.fileName = c.program;
        own.addFile("fw.bin", imageBytes(16384));
        for (const auto& [name, text] : c.files)
            own.addTextFile(name, text);
        resetPackage();
        EXPECT_EQ(readPackage(), c.expected);
        EXPECT_EQ(own.openedFiles(), c.opened);
        EXPECT_EQ(own.openFileCount(), 0);
        resetPackage();
    }
    system.install();
}

TEST_F(PackageTest, AFailingReadOfTheDescriptionFileIsNotASuccess)
{
    const std::string text = "remark\n[UPGRADEINFORMATION]\n" + kBaseIdentity +
                             "[OPTION]\nUSE RESTART=NO\nUSE TWICE UPDATE=YES\n";
    const auto at = [&](const std::string& marker) {
        return static_cast<uint32_t>(text.find(marker));
    };
    const std::vector<std::pair<uint32_t, PackageResult>> cases = {
        {0, packageresult::NoHeader},
        {3, packageresult::NoHeader},
        {at("[UPG") + 5, packageresult::NoHeader},
        {at("VERSION"), packageresult::NoOptionSection},
        {at("[OPTION]") + 3, packageresult::NoOptionSection},
        {at("USE TWICE"), packageresult::NoOptionSection},
        {static_cast<uint32_t>(text.size()), packageresult::NoOptionSection},
    };
    for (const auto& [offset, expected] : cases) {
        SCOPED_TRACE(offset);
        resetPackage();
        system.addTextFile("UPDATE.INI", text);
        system.failReadsAt("UPDATE.INI", offset);
        EXPECT_EQ(readPackage(), expected);
        EXPECT_EQ(system.openFileCount(), 0);
    }
}

TEST_F(PackageTest, AFileNameThatDoesNotFitRefusesThePackage)
{
    const std::string fits(32, 'f');
    const std::string tooLong(33, 'g');
    system.addFile(fits, imageBytes(16384));
    system.addFile(tooLong.substr(0, 32), imageBytes(16384));
    const std::string rest = "INQUIRY=A;\nVERSION=1\nFIRMWAREFILESIZE=16384\n";
    const std::vector<std::tuple<const char*, std::string, PackageResult>> cases = {
        {"32 bytes fit", "FIRMWAREFILENAME=" + fits + "\n", packageresult::Ok},
        {"33 bytes", "FIRMWAREFILENAME=" + tooLong + "\n", packageresult::FileNameTooLong},
        {"later name that fits",
         "FIRMWAREFILENAME=" + tooLong + "\nFIRMWAREFILENAME=" + fits + "\n", packageresult::Ok},
        {"later name too long", "FIRMWAREFILENAME=" + fits + "\nFIRMWAREFILENAME=" + tooLong + "\n",
         packageresult::FileNameTooLong},
        {"eps name",
         "FIRMWAREFILENAME=fw.bin\nEPS VERSION=1\nEPS FIRMWAREFILENAME=" + tooLong + "\n",
         packageresult::FileNameTooLong},
    };
    for (const auto& [name, lines, expected] : cases) {
        SCOPED_TRACE(name);
        resetPackage();
        EXPECT_EQ(read(rest + lines), expected);
        if (expected == packageresult::FileNameTooLong) {
            EXPECT_EQ(package.firmwareImage, nullptr);
            EXPECT_EQ(system.openedFiles().back(), "UPDATE.INI");
        }
    }
    // The file's structure is judged first.
    resetPackage();
    EXPECT_EQ(readText("[UPGRADEINFORMATION]\nFIRMWAREFILENAME=" + tooLong + "\n"),
              packageresult::NoOptionSection);
}
