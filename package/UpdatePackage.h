// The update package: what the description file and the firmware images
// say about the update. One process-wide record, filled once at start-up.
#pragma once

#include <cstdint>

struct PackageOptions {
    uint8_t melcoInquiry;
    uint8_t noPassThrough;
    uint8_t cautionKind;
    uint8_t pcbVersion;
    uint8_t noRestart;
    uint8_t noBinaryInformation;
    uint8_t noDeleteFile;
    uint8_t updateWaitTime;
    uint8_t osKind;
    uint8_t twiceUpdate;
    uint8_t updateAfterCommand;
};

struct UpdatePackage {
    char applicationTitle[128];
    char inquiryList[256];
    char firmwareVersion[5];
    char firmwareFileName[33];
    uint32_t firmwareFileSize;
    uint32_t bufferSize;
    uint8_t* firmwareImage; // owned; firmwareFileSize bytes
    char epsFileName[33];
    uint32_t epsFileSize;
    uint8_t* epsImage; // epsFileSize bytes; lives until the process ends
    char epsVersion[8];
    PackageOptions options;
};

// Result of readPackage; reaches the user as "(Code %d)".
using PackageResult = uint8_t;

namespace packageresult {
inline constexpr PackageResult Ok = 0;
inline constexpr PackageResult NoDescriptionFile = 1;
inline constexpr PackageResult NoHeader = 2;
inline constexpr PackageResult NoOptionSection = 3;
inline constexpr PackageResult NoImageSize = 4;
inline constexpr PackageResult NoMemory = 5;
inline constexpr PackageResult UnsoundSizes = 6; // chunk size 0, or no whole chunk
inline constexpr PackageResult NoIdentity = 7;
inline constexpr PackageResult NoIdentitySeparator = 8;
inline constexpr PackageResult FileNameTooLong = 9;
inline constexpr PackageResult ImageNotFound = 10;
inline constexpr PackageResult ImageReadFailed = 11;
inline constexpr PackageResult ImageTooShort = 12;
inline constexpr PackageResult EpsNotFound = 20;
inline constexpr PackageResult EpsReadFailed = 21;
inline constexpr PackageResult EpsTooShort = 22;
} // namespace packageresult

inline constexpr uint32_t kDefaultBufferSize = 8192;
inline constexpr uint8_t kDefaultUpdateWaitTime = 15;

extern UpdatePackage package;

// Releases both image buffers and clears the whole record (options included),
// then sets the defaults: bufferSize 8192, updateWaitTime 15.
void resetPackage();

// Releases the main image buffer, if any.
void releaseFirmwareImage();

// Reads the description file and the images into `package`.
PackageResult readPackage();
