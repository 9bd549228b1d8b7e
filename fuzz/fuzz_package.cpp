// Feeds arbitrary bytes to the package reader as the description file, with
// a few small image files beside it, and checks what it leaves in the record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "package/PackageReading.h"
#include "package/UpdatePackage.h"
#include "platform/scripted/ScriptedSystem.h"

namespace {

// Images larger than this are refused as if memory ran out, so that a huge
// size in the input costs no real memory.
constexpr size_t kLargestImage = 1 << 20;

void* boundedAllocator(size_t bytes)
{
    if (bytes > kLargestImage) return nullptr;
    return std::calloc(bytes, 1);
}

std::vector<uint8_t> image(size_t size, const std::vector<size_t>& recordOffsets)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 13 + 5);
    const char record[] = "ORVENTA FUZZ DRIVE      1.00";
    for (const size_t offset : recordOffsets)
        std::memcpy(bytes.data() + offset, record, 28);
    return bytes;
}

ScriptedSystem& platform()
{
    static ScriptedSystem* system = [] {
        auto* s = new ScriptedSystem;
        s->install();
        s->addFile("fw.bin", image(70000, {0, 65536}));
        s->addFile("small.bin", image(2048, {0}));
        s->addFile("plain.bin", image(4096, {}));
        s->addFile("eps.bin", image(4096, {}));
        s->addFile("bad.bin", image(8192, {}));
        s->failReadsAt("bad.bin", 3000);
        packagereading::setImageAllocator(boundedAllocator);
        return s;
    }();
    return *system;
}

void requireTerminated(const char* field, size_t size)
{
    if (std::memchr(field, 0, size) == nullptr) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ScriptedSystem& system = platform();
    system.addFile("UPDATE.INI", std::vector<uint8_t>(data, data + size));

    resetPackage();
    const PackageResult result = readPackage();

    requireTerminated(package.applicationTitle, sizeof package.applicationTitle);
    requireTerminated(package.inquiryList, sizeof package.inquiryList);
    requireTerminated(package.firmwareVersion, sizeof package.firmwareVersion);
    requireTerminated(package.firmwareFileName, sizeof package.firmwareFileName);
    requireTerminated(package.epsFileName, sizeof package.epsFileName);
    requireTerminated(package.epsVersion, sizeof package.epsVersion);
    if (system.openFileCount() != 0) std::abort();
    if (result == packageresult::Ok) {
        // A package that reads successfully can always be sent in whole chunks.
        if (package.bufferSize == 0 || package.bufferSize > package.firmwareFileSize) std::abort();
        if (package.firmwareImage == nullptr) std::abort();
        if (package.epsFileName[0] != '\0' && package.epsImage == nullptr) std::abort();
        if (std::strchr(package.inquiryList, ';') == nullptr) std::abort();
    }

    resetPackage();
    return 0;
}
