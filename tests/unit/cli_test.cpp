// The Linux program's command line end to end, in process: the front door over
// the Linux services, with virtual drives at the drive-access seams.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/LinuxRestart.h"
#include "platform/linux/LinuxSystem.h"
#include "programs/linux/cli/Capability.h"
#include "programs/linux/cli/FrontDoor.h"
#include "programs/linux/cli/PackageFinder.h"
#include "tests/unit/comma_locale.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

namespace fs = std::filesystem;

namespace {

const char* const kTwoDrives = R"([drive]
letter = E
vendor = ORVENTA
product = "CD-RW   DEMO52X "
revision = 1.03
pcb = 3
eps-version = EPS0100
eps-new-version = EPS0200
[drive]
letter = F
vendor = ORVENTA
product = "CD-RW   DEMO52X "
revision = 1.02
pcb = 2
[drive]
letter = G
vendor = OTHERCO
product = DVD-ROM 16X
revision = 2.10
)";

const char* const kNewerDrive = R"([drive]
letter = E
vendor = ORVENTA
product = "CD-RW   DEMO52X "
revision = 1.05
pcb = 3
eps-version = EPS0200
)";

const char* const kFailingDrive = R"([drive]
letter = E
vendor = ORVENTA
product = "CD-RW   DEMO52X "
revision = 1.03
pcb = 3
fault = write-buffer mode=5 sense=09-86-00
)";

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        home = fs::current_path();
        folder = fs::path(::testing::TempDir()) / ("orv-cli-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const char* file : {"UPDATE.INI", "DEMO0104.BIN", "DEMOEPS.BIN"})
            fs::copy_file(fs::path(ORV_SOURCE_DIR) / "samples/demo-good" / file, folder / file);
        // No settle wait: the tests need not wait for a flash that is instant.
        std::string ini = readText(folder / "UPDATE.INI");
        ini = std::regex_replace(ini, std::regex("UPDATE WAIT TIME=5"), "UPDATE WAIT TIME=0");
        writePackage(ini);
        installLinuxSystem();
        installLinuxRestart(true);
    }
    void TearDown() override
    {
        fs::current_path(home);
        setDescriptionFile("");
        uninstallVirtualDrives();
        std::setlocale(LC_ALL, "C");
        fs::remove_all(folder);
    }

    void writePackage(const std::string& ini) { std::ofstream(folder / "UPDATE.INI") << ini; }

    struct Run {
        int code;
        std::string out, err;
    };

    Run run(std::vector<std::string> args, const std::string& drives, bool mayWrite = true)
    {
        bus = std::make_unique<VirtualBus>();
        const std::string description = drives;
        FrontDoorSetup setup;
        setup.program = "orvdemo";
        setup.installDrives = [this, description](const std::string&) {
            for (const std::string& problem : parseVirtualDrives(description, *bus))
                ADD_FAILURE() << problem;
            installVirtualDrives(*bus);
        };
        setup.mayWriteFirmware = [mayWrite] { return mayWrite; };
        std::ostringstream out, err;
        setup.out = &out;
        setup.err = &err;
        setup.inputIsTerminal = 0;
        setup.outputIsTerminal = 0;
        std::vector<const char*> argv{"orvdemo"};
        for (std::string& arg : args) {
            if (arg == "PKG") arg = folder.string();
            argv.push_back(arg.c_str());
        }
        const int code = runFrontDoor(static_cast<int>(argv.size()), argv.data(), setup);
        fs::current_path(home);
        return {code, out.str(), err.str()};
    }

    fs::path home, folder;
    std::unique_ptr<VirtualBus> bus;
};

} // namespace

TEST_F(CliTest, CommandLinesAndTheirExitCodes)
{
    struct Case {
        std::vector<std::string> args;
        const char* drives;
        int code;
        const char* expected; // in the output or the error text
    };
    const Case cases[] = {
        {{"--bogus"}, kTwoDrives, 4, "orvdemo: The following argument was not expected: --bogus"},
        {{"--drive", "E", "PKG"}, kTwoDrives, 4, "--drive goes with --yes"},
        {{"--json", "PKG"}, kTwoDrives, 4, "--json goes with --list, --check or --yes"},
        {{"--list", "--check"}, kTwoDrives, 4, "--list, --check and --yes exclude each other"},
        {{"PKG"}, kTwoDrives, 4, "orvdemo --yes --drive NODE"},
        {{"--version"}, kTwoDrives, 0, "orvdemo 1.0.0"},
        {{"--help"}, kTwoDrives, 0, "Usage: orvdemo [OPTIONS] [PACKAGE]"},
        {{"--check", "PKG"}, kTwoDrives, 0, "64 chunks of 8192 bytes: 63 \"download\""},
        {{"--check", "/no/such/folder"}, kTwoDrives, 2, "no such file or folder"},
        {{"--list", "PKG"},
         kTwoDrives,
         0,
         "OTHERCO DVD-ROM 16X 2.10          does not fit: the package is for another model"},
        {{"--list", "PKG"}, kNewerDrive, 3, "has newer firmware than the package"},
        {{"--yes", "PKG"}, kTwoDrives, 4, "more than one drive fits (E, F)"},
        {{"--yes", "--drive", "G", "PKG"}, kTwoDrives, 3, "G is not a drive the package fits"},
        {{"--yes", "--drive", "/dev/e", "PKG"}, kTwoDrives, 0, "Firmware update completed."},
        {{"--yes", "--drive", "E", "PKG"}, kNewerDrive, 3, "the drive has newer firmware"},
        {{"--yes", "--allow-older", "--drive", "E", "PKG"}, kNewerDrive, 0, "flash 100%"},
        {{"--yes", "-d", "E", "PKG"},
         kFailingDrive,
         1,
         "update failed: Flash rom check sum error. (Code 09-86-00)"},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args)
            line += arg + ' ';
        SCOPED_TRACE(line);
        const Run r = run(c.args, c.drives);
        EXPECT_EQ(r.code, c.code) << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.expected), std::string::npos) << r.out << r.err;
        if (c.code == 4 && c.args[0] != "PKG") {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        }
    }
}

// An unattended update writes exactly the package's image into the drive and
// reports it as one JSON document; progress goes to the error stream.
TEST_F(CliTest, UnattendedUpdateFlashesTheImageAndReportsJson)
{
    const Run r = run({"--yes", "--json", "--drive", "E", "PKG"}, kTwoDrives);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto document = nlohmann::json::parse(r.out);
    EXPECT_EQ(document["result"], "updated");
    EXPECT_EQ(document["exitCode"], 0);
    EXPECT_EQ(document["drive"]["node"], "E");
    EXPECT_EQ(document["package"]["plan"]["chunks"], 64);
    EXPECT_TRUE(document["error"].is_null());
    const std::string image = readText(folder / "DEMO0104.BIN");
    const std::vector<uint8_t> flashed = bus->driveAtLetter('E')->flashedImage();
    EXPECT_EQ(std::string(flashed.begin(), flashed.end()), image);
    EXPECT_EQ(bus->driveAtLetter('F')->flashCount(), 0u);
    EXPECT_NE(r.err.find("transfer 100%\n"), std::string::npos) << r.err;
}

// Three faults of the Linux program, through the whole program.
TEST_F(CliTest, FaultsOfTheLinuxProgram)
{
    // No permission: nothing is touched.
    Run r = run({"--yes", "--drive", "E", "PKG"}, kTwoDrives, false);
    EXPECT_EQ(r.code, 5);
    EXPECT_NE(r.err.find("CAP_SYS_RAWIO"), std::string::npos);

    // A package asking for ASPI still updates over pass-through.
    const std::string plain = readText(folder / "UPDATE.INI");
    writePackage(plain + "USE SCSIPASSTHROUGHINTERFACE ON WINNT=NO\r\n");
    r = run({"--yes", "--drive", "E", "PKG"}, kTwoDrives);
    EXPECT_EQ(r.code, 0) << r.err;
    writePackage(plain);

    // Under a comma-decimal locale the newer drive firmware is still seen.
    const std::string locale = commaDecimalLocale();
    if (locale.empty()) GTEST_SKIP() << "no comma-decimal locale could be made";
    setenv("LC_ALL", locale.c_str(), 1);
    r = run({"--yes", "--drive", "E", "PKG"}, kNewerDrive);
    unsetenv("LC_ALL");
    EXPECT_EQ(r.code, 3) << r.out << r.err;
    EXPECT_NE(r.err.find("the drive has newer firmware"), std::string::npos) << r.err;
    EXPECT_EQ(bus->driveAtLetter('E')->flashCount(), 0u);
}

TEST(PackageFinder, ChoosesTheDescriptionFileOfAFolder)
{
    struct Case {
        std::vector<std::string> names;
        const char* chosen; // "" when a problem is expected
        const char* problem;
    };
    const Case cases[] = {
        {{"UPDATE.EXE", "UPDATE.INI", "FW.BIN", "other.ini"}, "UPDATE.INI", ""},
        {{"update.exe", "UPDATE.INI", "orvefirm.ini"}, "UPDATE.INI", ""},
        {{"orvefirm.ini", "notes.ini"}, "orvefirm.ini", ""},
        {{"DRIVE.INI", "FW.BIN"}, "DRIVE.INI", ""},
        {{"A.INI", "B.INI"}, "", "more than one description file (*.INI): A.INI, B.INI"},
        {{"A.EXE", "A.INI", "B.EXE", "B.INI"}, "", "A.INI, B.INI"},
        {{"FW.BIN", "README.TXT"}, "", "looked for <name>.INI beside <name>.EXE, orvefirm.ini"},
    };
    for (const Case& c : cases) {
        const FoundPackage found = choosePackageFile(c.names);
        EXPECT_EQ(found.found, *c.chosen != '\0');
        EXPECT_EQ(found.file, c.chosen);
        EXPECT_NE(found.problem.find(c.problem), std::string::npos) << found.problem;
    }
}

TEST(RawIoCapability, ReadFromTheEffectiveSet)
{
    EXPECT_TRUE(statusHasRawIo("Name:\tx\nCapEff:\t000001ffffffffff\n"));
    EXPECT_TRUE(statusHasRawIo("CapEff:\t0000000000020000\n"));
    EXPECT_FALSE(statusHasRawIo("CapPrm:\t0000000000020000\nCapEff:\t0000000000000000\n"));
    EXPECT_FALSE(statusHasRawIo("Name:\tx\n"));
}
