#include "platform/DriveAccess.h"

#include <cstdlib>

namespace {
PassThroughAccess* installedPassThrough = nullptr;
AspiLibrary* installedAspi = nullptr;
} // namespace

PassThroughAccess& passThroughAccess()
{
    if (installedPassThrough == nullptr) std::abort();
    return *installedPassThrough;
}

void installPassThroughAccess(PassThroughAccess* access)
{
    installedPassThrough = access;
}

AspiLibrary& aspiLibrary()
{
    if (installedAspi == nullptr) std::abort();
    return *installedAspi;
}

void installAspiLibrary(AspiLibrary* library)
{
    installedAspi = library;
}
