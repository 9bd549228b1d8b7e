// The firmware images the description file names, the package identity and
// the window title.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package/PackageReading.h"

namespace packagereading {

namespace {

constexpr uint32_t kCdrImageSize = 0x80000;
constexpr uint32_t kCdromImageSize = 0x20000;
constexpr uint32_t kDefaultEpsImageSize = 0x10000;
constexpr uint32_t kReadPiece = 1024;

constexpr char kVendor[] = "ORVENTA ";
constexpr size_t kVendorLength = 8;
constexpr size_t kIdentityLength = 28; // vendor, product, version
constexpr size_t kInquiryLength = 24;  // vendor and product
constexpr size_t kVersionLength = 4;
constexpr uint32_t kIdentityOffset = 0x10000;

struct ImageCodes {
    PackageResult notFound;
    PackageResult readFailed;
    PackageResult tooShort;
};

constexpr ImageCodes kMainCodes{packageresult::ImageNotFound, packageresult::ImageReadFailed,
                                packageresult::ImageTooShort};
constexpr ImageCodes kEpsCodes{packageresult::EpsNotFound, packageresult::EpsReadFailed,
                               packageresult::EpsTooShort};

// Reads the named file straight into `image`, a piece at a time, until the
// image is full or the file ends.
PackageResult loadImage(const char* name, uint8_t* image, uint32_t size, const ImageCodes& codes)
{
    Handle file = sys().openFileForReading(name);
    if (file == nullptr) return codes.notFound;
    uint32_t loaded = 0;
    while (loaded < size) {
        const uint32_t room = size - loaded;
        uint32_t got = 0;
        if (!sys().readFile(file, image + loaded, room < kReadPiece ? room : kReadPiece, got)) {
            sys().closeFile(file);
            return codes.readFailed;
        }
        if (got == 0) break;
        loaded += got;
    }
    sys().closeFile(file);
    return loaded == size ? packageresult::Ok : codes.tooShort;
}

uint32_t defaultImageSize(uint8_t cautionKind)
{
    switch (cautionKind) {
    case 1:
    case 2:
        return kCdrImageSize;
    case 3:
        return kCdromImageSize;
    default:
        return 0;
    }
}

// The identity record's place in the main image, or null.
const uint8_t* findIdentityRecord()
{
    const uint8_t* image = package.firmwareImage;
    const uint32_t size = package.firmwareFileSize;
    if (size >= kIdentityOffset + kIdentityLength &&
        std::memcmp(image + kIdentityOffset, kVendor, kVendorLength) == 0)
        return image + kIdentityOffset;
    if (size >= kIdentityLength && std::memcmp(image, kVendor, kVendorLength) == 0) return image;
    return nullptr;
}

void takeIdentity(const uint8_t* record)
{
    std::memset(package.inquiryList, 0, sizeof package.inquiryList);
    std::memcpy(package.inquiryList, record, kInquiryLength);
    package.inquiryList[kInquiryLength] = ';';
    std::memset(package.firmwareVersion, 0, sizeof package.firmwareVersion);
    std::memcpy(package.firmwareVersion, record + kInquiryLength, kVersionLength);
}

PackageResult checkFileIdentity()
{
    if (package.inquiryList[0] == '\0' || package.inquiryList[0] == ';' ||
        package.firmwareVersion[0] == '\0')
        return packageresult::NoIdentity;
    if (std::strchr(package.inquiryList, ';') == nullptr) return packageresult::NoIdentitySeparator;
    return packageresult::Ok;
}

void buildTitle()
{
    char text[64];
    std::snprintf(text, sizeof text, "%.24s Upgrade => %.4s", package.inquiryList,
                  package.firmwareVersion);
    const std::string squeezed = squeezeBlanks(text);
    std::memset(package.applicationTitle, 0, sizeof package.applicationTitle);
    std::memcpy(package.applicationTitle, squeezed.data(),
                squeezed.size() < sizeof package.applicationTitle
                    ? squeezed.size()
                    : sizeof package.applicationTitle - 1);
}

constexpr uint32_t kLargestBufferField = 0xFFFFFF;
constexpr uint32_t kEpsDataStart = 0x3400;

} // namespace

PackageResult loadImagesAndIdentity()
{
    if (package.firmwareFileSize == 0) {
        package.firmwareFileSize = defaultImageSize(package.options.cautionKind);
        if (package.firmwareFileSize == 0) return packageresult::NoImageSize;
    }
    // Each transfer sends whole chunks of bufferSize bytes: a package without
    // a chunk size, or whose image does not fill one chunk, cannot be sent.
    if (package.bufferSize == 0 || package.bufferSize > package.firmwareFileSize)
        return packageresult::UnsoundSizes;
    // WRITE BUFFER carries offsets and lengths in 24 bits: a chunk or a chunk
    // position beyond them would be cut and land elsewhere in the drive.
    const uint32_t lastOffset =
        (package.firmwareFileSize / package.bufferSize - 1) * package.bufferSize;
    if (package.bufferSize > kLargestBufferField || lastOffset > kLargestBufferField)
        return packageresult::UnsoundSizes;

    releaseFirmwareImage(); // a buffer from an earlier reading is not kept twice
    package.firmwareImage = static_cast<uint8_t*>(allocateZeroed(package.firmwareFileSize));
    if (package.firmwareImage == nullptr) return packageresult::NoMemory;
    PackageResult result = loadImage(package.firmwareFileName, package.firmwareImage,
                                     package.firmwareFileSize, kMainCodes);
    if (result != packageresult::Ok) return result;

    if (package.epsFileName[0] != '\0') {
        if (package.epsVersion[0] == '\0') return packageresult::NoIdentity;
        if (package.epsFileSize == 0) package.epsFileSize = kDefaultEpsImageSize;
        // The EPS data from 0x3400 on go in one command whose length field
        // has 24 bits.
        if (package.epsFileSize > kEpsDataStart + kLargestBufferField)
            return packageresult::UnsoundSizes;
        std::free(package.epsImage);
        package.epsImage = static_cast<uint8_t*>(allocateZeroed(package.epsFileSize));
        if (package.epsImage == nullptr) return packageresult::NoMemory;
        result = loadImage(package.epsFileName, package.epsImage, package.epsFileSize, kEpsCodes);
        if (result != packageresult::Ok) return result;
    }

    const uint8_t* record =
        package.options.noBinaryInformation == 1 ? nullptr : findIdentityRecord();
    if (record != nullptr) {
        takeIdentity(record);
    } else {
        result = checkFileIdentity();
        if (result != packageresult::Ok) return result;
    }

    if (package.applicationTitle[0] == '\0') buildTitle();
    return packageresult::Ok;
}

} // namespace packagereading
