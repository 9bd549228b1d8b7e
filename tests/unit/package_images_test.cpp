#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "tests/unit/package_fixture.h"

using namespace packagetest;

namespace {

// Counts allocations and refuses the ones the test names.
int allocations = 0;
int failingAllocation = 0; // 1-based; 0 refuses none
void* countingAllocator(size_t bytes)
{
    ++allocations;
    if (allocations == failingAllocation) return nullptr;
    return std::calloc(bytes, 1);
}

void expectImage(const uint8_t* image, const std::vector<uint8_t>& file, size_t size)
{
    ASSERT_NE(image, nullptr);
    ASSERT_GE(file.size(), size);
    EXPECT_EQ(std::memcmp(image, file.data(), size), 0);
}

// Records where every read went and how much it asked for.
class RecordingSystem : public ScriptedSystem {
public:
    struct Read {
        Handle file;
        void* buffer;
        uint32_t size;
    };
    std::vector<Read> reads;

    bool readFile(Handle file, void* buffer, uint32_t size, uint32_t& got) override
    {
        reads.push_back({file, buffer, size});
        return ScriptedSystem::readFile(file, buffer, size, got);
    }
};

} // namespace

TEST_F(PackageTest, MainImageSizeDefaultsFollowTheDriveKind)
{
    struct Case {
        const char* name;
        std::string sizeLine;
        std::string options;
        size_t fileSize;
        PackageResult expected;
        uint32_t size;
    };
    const std::vector<Case> cases = {
        {"no size, no kind", "", "", 524288, packageresult::NoImageSize, 0},
        {"no size, dvd", "", "USE DVDRW CAUTION=YES\n", 524288, packageresult::NoImageSize, 0},
        {"no size, cd-r", "", "USE CDR CAUTION=YES\n", 524288, packageresult::Ok, 524288},
        {"no size, cd-r/rw", "", "USE CDRW CAUTION=YES\n", 524288, packageresult::Ok, 524288},
        {"no size, cd-rom", "", "USE CDROM CAUTION=YES\n", 131072, packageresult::Ok, 131072},
        {"size 0, cd-rom", "FIRMWAREFILESIZE=0\n", "USE CDROM CAUTION=YES\n", 131072,
         packageresult::Ok, 131072},
        {"cd-rom default, short file", "", "USE CDROM CAUTION=YES\n", 131071,
         packageresult::ImageTooShort, 131072},
        {"given size wins over kind", "FIRMWAREFILESIZE=16384\n", "USE CDR CAUTION=YES\n", 16384,
         packageresult::Ok, 16384},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        const auto file = imageBytes(c.fileSize);
        system.addFile("img.bin", file);
        EXPECT_EQ(read("INQUIRY=A;\nVERSION=1\nFIRMWAREFILENAME=img.bin\n" + c.sizeLine, c.options),
                  c.expected);
        EXPECT_EQ(package.firmwareFileSize, c.size);
        if (c.expected == packageresult::Ok) expectImage(package.firmwareImage, file, c.size);
        if (c.expected == packageresult::NoImageSize) {
            EXPECT_EQ(package.firmwareImage, nullptr);
        }
    }
}

TEST_F(PackageTest, ChunkSizeMustFormAtLeastOneWholeChunk)
{
    struct Case {
        const char* name;
        std::string lines;
        std::string options;
        PackageResult expected;
    };
    const std::vector<Case> cases = {
        {"zero", "BUFFERSIZE=0\n", "", packageresult::UnsoundSizes},
        {"no digits", "BUFFERSIZE=lots\n", "", packageresult::UnsoundSizes},
        {"larger than the image", "BUFFERSIZE=16385\n", "", packageresult::UnsoundSizes},
        {"negative", "BUFFERSIZE=-1\n", "", packageresult::UnsoundSizes},
        {"equal to the image", "BUFFERSIZE=16384\n", "", packageresult::Ok},
        {"one byte", "BUFFERSIZE=1\n", "", packageresult::Ok},
        {"default chunk larger than the image", "FIRMWAREFILESIZE=4096\n", "",
         packageresult::UnsoundSizes},
        {"judged after the default size", "FIRMWAREFILESIZE=0\nBUFFERSIZE=65536\n",
         "USE CDROM CAUTION=YES\n", packageresult::Ok},
        {"missing size comes first", "FIRMWAREFILESIZE=0\nBUFFERSIZE=0\n", "",
         packageresult::NoImageSize},
        // The block's offset and length fields have 24 bits.
        {"last chunk offset past 24 bits", "FIRMWAREFILESIZE=16785408\nBUFFERSIZE=8192\n", "",
         packageresult::UnsoundSizes},
        {"chunk length past 24 bits", "FIRMWAREFILESIZE=16777216\nBUFFERSIZE=16777216\n", "",
         packageresult::UnsoundSizes},
    };
    system.addFile("rom.bin", imageBytes(131072));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        allocations = 0;
        failingAllocation = 0;
        packagereading::setImageAllocator(countingAllocator);
        const std::string name = c.options.empty() ? "fw.bin" : "rom.bin";
        EXPECT_EQ(read("INQUIRY=A;\nVERSION=1\nFIRMWAREFILENAME=" + name +
                           "\nFIRMWAREFILESIZE=16384\n" + c.lines,
                       c.options),
                  c.expected);
        if (c.expected != packageresult::Ok) {
            EXPECT_EQ(allocations, 0) << "refused only after taking memory";
            EXPECT_EQ(package.firmwareImage, nullptr);
        }
    }
}

TEST_F(PackageTest, EpsDataMustFitOneCommandsLengthField)
{
    system.addFile("eps.bin", imageBytes(65536));
    const std::string lines = "INQUIRY=A;\nVERSION=1\nFIRMWAREFILENAME=fw.bin\n"
                              "FIRMWAREFILESIZE=16384\nEPS FIRMWAREFILENAME=eps.bin\n"
                              "EPS VERSION=E1\nEPS FIRMWAREFILESIZE=";
    EXPECT_EQ(read(lines + "16790528\n", ""), packageresult::UnsoundSizes); // 0x3400 + 2^24
    resetPackage();
    EXPECT_EQ(read(lines + "16790527\n", ""), packageresult::EpsTooShort);
}

TEST_F(PackageTest, TheLastChunkOffsetThatFitsIsAccepted)
{
    // 2048 chunks of 8 KiB: the last one starts at 0xFFE000.
    EXPECT_EQ(read("INQUIRY=A;\nVERSION=1\nFIRMWAREFILENAME=fw.bin\n"
                   "FIRMWAREFILESIZE=16777216\nBUFFERSIZE=8192\n",
                   ""),
              packageresult::ImageTooShort);
}

TEST_F(PackageTest, MainImageFileGivesItsCodes)
{
    struct Case {
        const char* name;
        size_t fileSize;
        uint32_t failAt; // UINT32_MAX: no failure
        std::string nameLine;
        PackageResult expected;
    };
    const std::vector<Case> cases = {
        {"exact", 16384, UINT32_MAX, "FIRMWAREFILENAME=img.bin\n", packageresult::Ok},
        {"one byte longer", 16385, UINT32_MAX, "FIRMWAREFILENAME=img.bin\n", packageresult::Ok},
        {"one byte shorter", 16383, UINT32_MAX, "FIRMWAREFILENAME=img.bin\n",
         packageresult::ImageTooShort},
        {"empty", 0, UINT32_MAX, "FIRMWAREFILENAME=img.bin\n", packageresult::ImageTooShort},
        {"missing", 16384, UINT32_MAX, "FIRMWAREFILENAME=other.bin\n",
         packageresult::ImageNotFound},
        {"empty name", 16384, UINT32_MAX, "FIRMWAREFILENAME=\n", packageresult::ImageNotFound},
        {"no name", 16384, UINT32_MAX, "", packageresult::ImageNotFound},
        {"name in another case", 16384, UINT32_MAX, "FIRMWAREFILENAME=IMG.BIN\n",
         packageresult::ImageNotFound},
        {"read fails at once", 16384, 0, "FIRMWAREFILENAME=img.bin\n",
         packageresult::ImageReadFailed},
        {"read fails mid-piece", 16384, 5000, "FIRMWAREFILENAME=img.bin\n",
         packageresult::ImageReadFailed},
        {"read fails on a piece edge", 16384, 1024, "FIRMWAREFILENAME=img.bin\n",
         packageresult::ImageReadFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        const auto file = imageBytes(c.fileSize);
        system.addFile("img.bin", file);
        if (c.failAt != UINT32_MAX) system.failReadsAt("img.bin", c.failAt);
        EXPECT_EQ(read("INQUIRY=A;\nVERSION=1\nFIRMWAREFILESIZE=16384\n" + c.nameLine), c.expected);
        if (c.expected == packageresult::Ok) expectImage(package.firmwareImage, file, 16384);
        system.removeFile("img.bin");
    }
}

TEST_F(PackageTest, AShortImageLeavesTheRestOfItsBufferZero)
{
    system.addFile("img.bin", std::vector<uint8_t>(3000, 0xAA));
    ASSERT_EQ(read("INQUIRY=A;\nVERSION=1\nFIRMWAREFILENAME=img.bin\nFIRMWAREFILESIZE=16384\n"),
              packageresult::ImageTooShort);
    ASSERT_NE(package.firmwareImage, nullptr);
    EXPECT_EQ(package.firmwareImage[2999], 0xAA);
    for (size_t i = 3000; i < 16384; ++i)
        ASSERT_EQ(package.firmwareImage[i], 0) << i;
}

TEST_F(PackageTest, ImagesAreReadInPiecesStraightIntoTheirBuffers)
{
    RecordingSystem recording;
    recording.install();
    recording.addFile("img.bin", imageBytes(3000));
    recording.addFile("eps.bin", imageBytes(1500));
    recording.addTextFile("UPDATE.INI", "[UPGRADEINFORMATION]\nINQUIRY=A;\nVERSION=1\n"
                                        "FIRMWAREFILENAME=img.bin\nFIRMWAREFILESIZE=2500\n"
                                        "BUFFERSIZE=500\nEPS FIRMWAREFILENAME=eps.bin\n"
                                        "EPS FIRMWAREFILESIZE=1100\nEPS VERSION=E1\n[OPTION]\n");
    resetPackage();
    ASSERT_EQ(readPackage(), packageresult::Ok);
    // The description file's reads come first; the images' are the last five.
    ASSERT_GE(recording.reads.size(), 5u);
    const std::vector<RecordingSystem::Read> images(recording.reads.end() - 5,
                                                    recording.reads.end());
    const std::vector<std::pair<void*, uint32_t>> expected = {
        {package.firmwareImage, 1024},       {package.firmwareImage + 1024, 1024},
        {package.firmwareImage + 2048, 452}, {package.epsImage, 1024},
        {package.epsImage + 1024, 76},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(images[i].buffer, expected[i].first);
        EXPECT_EQ(images[i].size, expected[i].second);
    }
    expectImage(package.firmwareImage, imageBytes(3000), 2500);
    expectImage(package.epsImage, imageBytes(1500), 1100);
    EXPECT_EQ(recording.openFileCount(), 0);
    resetPackage();
    system.install();
}

TEST_F(PackageTest, MemoryShortageGivesCodeFive)
{
    const std::string identity = kBaseIdentity + "EPS FIRMWAREFILENAME=eps.bin\nEPS VERSION=E1\n";
    system.addFile("eps.bin", imageBytes(65536));
    struct Case {
        int failing;
        bool mainLoaded;
    };
    for (const Case c : {Case{1, false}, Case{2, true}}) {
        SCOPED_TRACE(c.failing);
        resetPackage();
        allocations = 0;
        failingAllocation = c.failing;
        packagereading::setImageAllocator(countingAllocator);
        EXPECT_EQ(read(identity), packageresult::NoMemory);
        EXPECT_EQ(package.firmwareImage != nullptr, c.mainLoaded);
        EXPECT_EQ(package.epsImage, nullptr);
        if (c.mainLoaded) expectImage(package.firmwareImage, imageBytes(16384), 16384);
    }
}

TEST_F(PackageTest, EpsImageGivesItsCodes)
{
    struct Case {
        const char* name;
        std::string lines;
        size_t fileSize;
        uint32_t failAt;
        PackageResult expected;
        uint32_t size;
    };
    const std::string named = "EPS FIRMWAREFILENAME=eps.bin\n";
    const std::vector<Case> cases = {
        {"no eps", "EPS VERSION=E1\n", 0, UINT32_MAX, packageresult::Ok, 0},
        {"default size", named + "EPS VERSION=E1\n", 65536, UINT32_MAX, packageresult::Ok, 65536},
        {"size given", named + "EPS VERSION=E1\nEPS FIRMWAREFILESIZE=2000\n", 2000, UINT32_MAX,
         packageresult::Ok, 2000},
        {"longer file", named + "EPS VERSION=E1\nEPS FIRMWAREFILESIZE=2000\n", 2001, UINT32_MAX,
         packageresult::Ok, 2000},
        {"no version", named, 65536, UINT32_MAX, packageresult::NoIdentity, 0},
        {"not found", "EPS FIRMWAREFILENAME=none.bin\nEPS VERSION=E1\n", 65536, UINT32_MAX,
         packageresult::EpsNotFound, 65536},
        {"read fails", named + "EPS VERSION=E1\n", 65536, 4096, packageresult::EpsReadFailed,
         65536},
        {"short", named + "EPS VERSION=E1\n", 65535, UINT32_MAX, packageresult::EpsTooShort, 65536},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        const auto file = imageBytes(c.fileSize);
        system.addFile("eps.bin", file);
        if (c.failAt != UINT32_MAX) system.failReadsAt("eps.bin", c.failAt);
        const auto before = system.openedFiles().size();
        EXPECT_EQ(read(kBaseIdentity + c.lines), c.expected);
        EXPECT_EQ(package.epsFileSize, c.size);
        if (c.expected == packageresult::Ok && c.size != 0)
            expectImage(package.epsImage, file, c.size);
        if (c.expected == packageresult::NoIdentity) {
            // The EPS file is not touched.
            const auto opened = system.openedFiles();
            EXPECT_EQ(std::count(opened.begin() + static_cast<std::ptrdiff_t>(before), opened.end(),
                                 "eps.bin"),
                      0);
            EXPECT_EQ(package.epsImage, nullptr);
        }
        if (c.expected != packageresult::Ok) {
            EXPECT_NE(package.firmwareImage, nullptr);
        }
        system.removeFile("eps.bin");
    }
}

TEST_F(PackageTest, IdentityComesFromTheRecordAt65536ThenAtZero)
{
    const auto high = identityRecord("ORVENTA", "HIGH-DRIVE", "2.00");
    const auto low = identityRecord("ORVENTA", "LOW-DRIVE", "1.50");
    const std::string highList = "ORVENTA HIGH-DRIVE      ;";
    const std::string lowList = "ORVENTA LOW-DRIVE       ;";
    const std::string fileList = "FILE;LIST;";
    struct Case {
        const char* name;
        size_t size;
        bool atHigh;
        bool atLow;
        std::string options;
        std::string list;
        std::string version;
    };
    const std::vector<Case> cases = {
        {"both places", 65536 + 28, true, true, "", highList, "2.00"},
        {"high only", 70000, true, false, "", highList, "2.00"},
        {"low only", 70000, false, true, "", lowList, "1.50"},
        {"low in a small image", 1024, false, true, "", lowList, "1.50"},
        {"high record cut off by the image end", 65536 + 27, true, true, "", lowList, "1.50"},
        {"high record cut off, none at zero", 65536 + 27, true, false, "", fileList, "0.90"},
        {"no record", 70000, false, false, "", fileList, "0.90"},
        {"record ignored", 70000, true, true, "USE BINARY INFORMATION=NO\n", fileList, "0.90"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        auto image = imageBytes(c.size);
        if (c.atLow) placeAt(image, 0, low);
        // A record cut off by the image end still leaves its first bytes.
        if (c.atHigh) {
            image.resize(65536 + 28);
            placeAt(image, 65536, high);
            image.resize(c.size);
        }
        system.addFile("img.bin", image);
        ASSERT_EQ(read("INQUIRY=" + fileList +
                           "\nVERSION=0.90\nFIRMWAREFILENAME=img.bin\n"
                           "BUFFERSIZE=512\nFIRMWAREFILESIZE=" +
                           std::to_string(c.size) + "\n",
                       c.options),
                  packageresult::Ok);
        EXPECT_EQ(std::string(package.inquiryList), c.list);
        EXPECT_EQ(std::string(package.firmwareVersion), c.version);
    }
}

TEST_F(PackageTest, ARecordOnlyNeedsNoIdentityInTheFile)
{
    auto image = imageBytes(16384);
    placeAt(image, 0, identityRecord("ORVENTA", "CDR-100", "1.04"));
    system.addFile("img.bin", image);
    ASSERT_EQ(read("FIRMWAREFILENAME=img.bin\nFIRMWAREFILESIZE=16384\n"), packageresult::Ok);
    EXPECT_EQ(std::string(package.inquiryList), "ORVENTA CDR-100         ;");
    EXPECT_EQ(std::strlen(package.inquiryList), 25u);
    // A longer list from the file leaves nothing behind the record's entry.
    resetPackage();
    ASSERT_EQ(read("INQUIRY=" + std::string(100, 'x') +
                   ";\nVERSION=1.04567\n"
                   "FIRMWAREFILENAME=img.bin\nFIRMWAREFILESIZE=16384\n"),
              packageresult::Ok);
    EXPECT_EQ(std::string(package.inquiryList), "ORVENTA CDR-100         ;");
    EXPECT_EQ(std::string(package.firmwareVersion), "1.04");
}

TEST_F(PackageTest, IdentityFromTheFileMustBeUsable)
{
    const std::vector<std::tuple<std::string, PackageResult>> cases = {
        {"INQUIRY=A;\nVERSION=1\n", packageresult::Ok},
        {"INQUIRY=A;B\nVERSION=1\n", packageresult::Ok},
        {"INQUIRY=\nVERSION=1\n", packageresult::NoIdentity},
        {"VERSION=1\n", packageresult::NoIdentity},
        {"INQUIRY=;A;\nVERSION=1\n", packageresult::NoIdentity},
        {"INQUIRY=A;\n", packageresult::NoIdentity},
        {"INQUIRY=A;\nVERSION=\n", packageresult::NoIdentity},
        {"INQUIRY=ORVENTA CDR-100\nVERSION=1\n", packageresult::NoIdentitySeparator},
    };
    for (const auto& [lines, expected] : cases) {
        SCOPED_TRACE(lines);
        resetPackage();
        EXPECT_EQ(read("FIRMWAREFILENAME=fw.bin\nFIRMWAREFILESIZE=16384\n" + lines), expected);
        EXPECT_NE(package.firmwareImage, nullptr);
    }
}

TEST_F(PackageTest, TitleIsBuiltAndSqueezedWhenTheFileGivesNone)
{
    struct Case {
        const char* name;
        std::string lines;
        std::vector<uint8_t> record; // placed at offset 0 when not empty
        std::string title;
    };
    const std::vector<Case> cases = {
        {"given title is kept as written", "APPLICATIONTITLE=My   Title \n", {}, "My   Title "},
        {"record with padded product", "", identityRecord("ORVENTA", "CDR-100", "1.04"),
         "ORVENTA CDR-100 Upgrade => 1.04"},
        {"first 24 characters of the list",
         "INQUIRY=ABC;DEF;GHIJKLMNOPQRSTUVWXYZ;\n",
         {},
         "ABC;DEF;GHIJKLMNOPQRSTUV Upgrade => 1.04"},
        {"leading blanks shrink to one", "INQUIRY=  A   B;\n", {}, " A B; Upgrade => 1.04"},
        {"trailing blank stays", "INQUIRY=X;\nVERSION=1.0 \n", {}, "X; Upgrade => 1.0 "},
        {"version cut to four", "INQUIRY=X;\nVERSION=12345\n", {}, "X; Upgrade => 1234"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetPackage();
        auto image = imageBytes(16384);
        if (!c.record.empty()) placeAt(image, 0, c.record);
        system.addFile("img.bin", image);
        const std::string identity = c.record.empty() ? "INQUIRY=A;\nVERSION=1.04\n" : "";
        ASSERT_EQ(read(identity + "FIRMWAREFILENAME=img.bin\nFIRMWAREFILESIZE=16384\n" + c.lines),
                  packageresult::Ok);
        EXPECT_EQ(std::string(package.applicationTitle), c.title);
    }
}

TEST_F(PackageTest, ResetReleasesBothImagesAndRestoresTheDefaults)
{
    system.addFile("eps.bin", imageBytes(65536));
    ASSERT_EQ(read(kBaseIdentity + "EPS FIRMWAREFILENAME=eps.bin\nEPS VERSION=E1\n",
                   "USE RESTART=NO\nUPDATE WAIT TIME=3\n"),
              packageresult::Ok);
    ASSERT_NE(package.firmwareImage, nullptr);
    ASSERT_NE(package.epsImage, nullptr);
    package.options.osKind = 2;
    // The sanitizer build reports the buffers if they are not released here.
    resetPackage();
    UpdatePackage expected{};
    expected.bufferSize = kDefaultBufferSize;
    expected.options.updateWaitTime = kDefaultUpdateWaitTime;
    EXPECT_EQ(std::memcmp(&package, &expected, sizeof package), 0);

    ASSERT_EQ(read(kBaseIdentity), packageresult::Ok);
    releaseFirmwareImage();
    EXPECT_EQ(package.firmwareImage, nullptr);
    releaseFirmwareImage(); // a second release is harmless
    EXPECT_EQ(package.firmwareFileSize, 16384u);
}

TEST_F(PackageTest, ReadingAgainWithoutResetKeepsNoStaleBuffer)
{
    system.addFile("eps.bin", imageBytes(65536));
    const std::string identity = kBaseIdentity + "EPS FIRMWAREFILENAME=eps.bin\nEPS VERSION=E1\n";
    ASSERT_EQ(read(identity), packageresult::Ok);
    // The sanitizer build reports the first buffers if the second reading drops them.
    ASSERT_EQ(read(identity), packageresult::Ok);
    expectImage(package.firmwareImage, imageBytes(16384), 16384);
    expectImage(package.epsImage, imageBytes(65536), 65536);
}
