#include "platform/RestartServices.h"

#include <cstdlib>

namespace {
RestartServices* installed = nullptr;
}

RestartServices& restartServices()
{
    if (installed == nullptr) std::abort();
    return *installed;
}

void installRestartServices(RestartServices* services)
{
    installed = services;
}
