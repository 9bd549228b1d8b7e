#include "platform/Platform.h"

#include <cstdlib>

namespace {
SystemServices* installed = nullptr;
}

SystemServices& sys()
{
    if (installed == nullptr) std::abort();
    return *installed;
}

void installSystemServices(SystemServices* services)
{
    installed = services;
}

std::string moduleFileTitle()
{
    std::string name = sys().moduleFileName();
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name;
}
