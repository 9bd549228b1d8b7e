// The operating-system services of the Windows program, on the real API.
#pragma once

#include <cstdint>

#include "platform/Platform.h"

class Win32System final : public SystemServices {
public:
    Win32System();

    OsVersionInfo versionInfo() override;
    uint32_t userDefaultLcid() override;
    std::string moduleFileName() override;
    std::string modulePath() override;

    int messageBox(CWnd* owner, const std::string& text, const std::string& title,
                   uint32_t flags) override;

    void waitMilliseconds(uint32_t milliseconds) override;
    uint32_t clockMilliseconds() override;

    Handle createEvent() override;
    void setEvent(Handle event) override;
    void resetEvent(Handle event) override;
    void waitEvent(Handle event) override;
    void closeEvent(Handle event) override;

    Handle openFileForReading(const std::string& name) override;
    bool readFile(Handle file, void* buffer, uint32_t size, uint32_t& got) override;
    void closeFile(Handle file) override;

private:
    uint32_t startTicks_;
};

// Installs the one Win32System of the process as sys().
void installWin32SystemServices();
