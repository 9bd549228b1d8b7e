// Shared set-up for the package reader tests: a scripted platform, a fresh
// package record, and helpers that write description files and images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageReading.h"
#include "package/UpdatePackage.h"
#include "platform/scripted/ScriptedSystem.h"

namespace packagetest {

// Identity lines of a package that reads successfully with a 16384-byte
// "fw.bin" and no identity record in it.
inline const std::string kBaseIdentity = "INQUIRY=ORVENTA CDR-100;\n"
                                         "VERSION=1.04\n"
                                         "FIRMWAREFILENAME=fw.bin\n"
                                         "FIRMWAREFILESIZE=16384\n";

// Image bytes that never spell the identity vendor.
inline std::vector<uint8_t> imageBytes(size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>((i * 7 + 3) % 251);
    return bytes;
}

// A 28-byte identity record.
inline std::vector<uint8_t> identityRecord(const std::string& vendor, const std::string& product,
                                           const std::string& version)
{
    std::string text = vendor;
    text.resize(8, ' ');
    std::string paddedProduct = product;
    paddedProduct.resize(16, ' ');
    text += paddedProduct + version;
    text.resize(28, ' ');
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline void placeAt(std::vector<uint8_t>& image, size_t offset, const std::vector<uint8_t>& bytes)
{
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        system.install();
        packagereading::setImageAllocator(nullptr);
        resetPackage();
        system.addFile("fw.bin", imageBytes(16384));
    }

    void TearDown() override
    {
        resetPackage();
        packagereading::setImageAllocator(nullptr);
        EXPECT_EQ(system.openFileCount(), 0) << "a file was left open";
    }

    // Writes UPDATE.INI from its two stretches and reads the package.
    PackageResult read(const std::string& identity, const std::string& options = "")
    {
        system.addTextFile("UPDATE.INI",
                           "[UPGRADEINFORMATION]\n" + identity + "[OPTION]\n" + options);
        return readPackage();
    }

    PackageResult readText(const std::string& text)
    {
        system.addTextFile("UPDATE.INI", text);
        return readPackage();
    }

    ScriptedSystem system;
};

} // namespace packagetest
