#include "package/UpdatePackage.h"

#include <cstdlib>

#include "package/PackageReading.h"

UpdatePackage package{};

namespace packagereading {

namespace {
ZeroedAllocator imageAllocator = nullptr;
}

void setImageAllocator(ZeroedAllocator allocator)
{
    imageAllocator = allocator;
}

void* allocateZeroed(size_t bytes)
{
    if (imageAllocator != nullptr) return imageAllocator(bytes);
    // A zero-byte request still yields a buffer of its own, never a shared null.
    return std::calloc(bytes == 0 ? 1 : bytes, 1);
}

} // namespace packagereading

void releaseFirmwareImage()
{
    std::free(package.firmwareImage);
    package.firmwareImage = nullptr;
}

void resetPackage()
{
    releaseFirmwareImage();
    std::free(package.epsImage);
    package = UpdatePackage{};
    package.bufferSize = kDefaultBufferSize;
    package.options.updateWaitTime = kDefaultUpdateWaitTime;
}

PackageResult readPackage()
{
    const PackageResult described = packagereading::readDescriptionFile();
    if (described != packageresult::Ok) return described;
    return packagereading::loadImagesAndIdentity();
}
