#include "platform/win32/Win32System.h"

#include <windows.h>

#include <vector>

#include "platform/classlib/ClassLib.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version query names its structure size 148");

Win32System::Win32System() : startTicks_(GetTickCount())
{
}

OsVersionInfo Win32System::versionInfo()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 148;
    OsVersionInfo answer;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    answer.ok = GetVersionExA(&info) != FALSE;
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (answer.ok) {
        answer.platformId = info.dwPlatformId;
        answer.majorVersion = info.dwMajorVersion;
        answer.minorVersion = info.dwMinorVersion;
    }
    return answer;
}

uint32_t Win32System::userDefaultLcid()
{
    return GetUserDefaultLCID();
}

std::string Win32System::modulePath()
{
    // Grow the buffer until the whole path fits; GetModuleFileNameA fills it
    // completely (and answers its size) when the path is cut.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD got =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0) return {};
        if (got < buffer.size()) return std::string(buffer.data(), got);
        if (buffer.size() >= 32768) return std::string(buffer.data(), got);
        buffer.resize(buffer.size() * 2);
    }
}

std::string Win32System::moduleFileName()
{
    std::string path = modulePath();
    const auto slash = path.find_last_of("\\/");
    if (slash != std::string::npos) path.erase(0, slash + 1);
    return path;
}

int Win32System::messageBox(CWnd* owner, const std::string& text, const std::string& title,
                            uint32_t flags)
{
    HWND ownerWindow = owner != nullptr ? static_cast<HWND>(owner->nativeHandle()) : nullptr;
    return MessageBoxA(ownerWindow, text.c_str(), title.c_str(), flags);
}

void Win32System::waitMilliseconds(uint32_t milliseconds)
{
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return;
    WaitForSingleObject(event, milliseconds);
    CloseHandle(event);
}

uint32_t Win32System::clockMilliseconds()
{
    // Unsigned difference: right across the 49.7-day wrap of the tick count.
    return static_cast<uint32_t>(GetTickCount() - startTicks_);
}

Handle Win32System::createEvent()
{
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

void Win32System::setEvent(Handle event)
{
    if (event != nullptr) SetEvent(event);
}

void Win32System::resetEvent(Handle event)
{
    if (event != nullptr) ResetEvent(event);
}

void Win32System::waitEvent(Handle event)
{
    if (event != nullptr) WaitForSingleObject(event, INFINITE);
}

void Win32System::closeEvent(Handle event)
{
    if (event != nullptr) CloseHandle(event);
}

Handle Win32System::openFileForReading(const std::string& name)
{
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return file;
}

bool Win32System::readFile(Handle file, void* buffer, uint32_t size, uint32_t& got)
{
    got = 0;
    if (file == nullptr) return false;
    DWORD read = 0;
    if (!ReadFile(file, buffer, size, &read, nullptr)) return false;
    got = read;
    return true;
}

void Win32System::closeFile(Handle file)
{
    if (file != nullptr) CloseHandle(file);
}

void installWin32SystemServices()
{
    static Win32System services;
    installSystemServices(&services);
}
