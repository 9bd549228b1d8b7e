// The operating-system services the system uses, one implementation per
// platform (win32/, linux/) plus a scripted one for tests. The Win32 one calls
// the Windows API by the names given beside each operation; the others imitate
// it. Front ends install one implementation before start-up.
#pragma once

#include <cstdint>
#include <string>

using Handle = void*;
class CWnd;

// Message box flags and answers, in the Windows values.
inline constexpr uint32_t MB_OK_ = 0x0;
inline constexpr uint32_t MB_YESNO_ = 0x4;
inline constexpr uint32_t MB_ICONERROR_ = 0x10;
inline constexpr uint32_t MB_ICONINFORMATION_ = 0x40;
inline constexpr uint32_t MB_SYSTEMMODAL_ = 0x1000;
inline constexpr int IDOK_ = 1;
inline constexpr int IDCANCEL_ = 2;
inline constexpr int IDYES_ = 6;
inline constexpr int IDNO_ = 7;

inline constexpr uint32_t VER_PLATFORM_WIN32_NT_ = 2;

struct OsVersionInfo {
    bool ok = false;
    uint32_t platformId = 0;
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
};

class SystemServices {
public:
    virtual ~SystemServices() = default;

    // GetVersionExA, with the structure size set to 148.
    virtual OsVersionInfo versionInfo() = 0;
    // GetUserDefaultLCID.
    virtual uint32_t userDefaultLcid() = 0;
    // The running program's file name without directory, e.g. "UPDATE.EXE".
    virtual std::string moduleFileName() = 0;
    // The running program's full path.
    virtual std::string modulePath() = 0;

    // MessageBoxA. `owner` is null for boxes without owner window.
    virtual int messageBox(CWnd* owner, const std::string& text, const std::string& title,
                           uint32_t flags) = 0;

    // Blocks the calling thread; returns at once when no wait object can be made.
    virtual void waitMilliseconds(uint32_t milliseconds) = 0;
    // Milliseconds elapsed since the program started.
    virtual uint32_t clockMilliseconds() = 0;

    // Auto-reset, initially unsignalled, unnamed events (CreateEventA and
    // friends). createEvent answers null on failure.
    virtual Handle createEvent() = 0;
    virtual void setEvent(Handle event) = 0;
    virtual void resetEvent(Handle event) = 0;
    virtual void waitEvent(Handle event) = 0; // without time limit
    virtual void closeEvent(Handle event) = 0;

    // Files, read-only with other readers allowed (CreateFileA, ReadFile,
    // CloseHandle). openFileForReading answers null when the file does not open.
    // readFile answers false on a failed read; `got` is 0 at the end of file.
    virtual Handle openFileForReading(const std::string& name) = 0;
    virtual bool readFile(Handle file, void* buffer, uint32_t size, uint32_t& got) = 0;
    virtual void closeFile(Handle file) = 0;

    // Whether drives are reached through pass-through only: a system without
    // any ASPI library, where a package's wish for ASPI cannot be met.
    virtual bool passThroughOnly() { return false; }
};

SystemServices& sys();
void installSystemServices(SystemServices* services);

// The program's file title: its file name without directory and without the
// part from the last '.' on.
std::string moduleFileTitle();
