// A scripted platform for tests: files live in memory, message boxes are
// recorded and answered as the test says, and the clock is virtual (a wait
// advances it at once), so tests of long waits take no real time.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Platform.h"

struct RecordedMessageBox {
    CWnd* owner;
    std::string text;
    std::string title;
    uint32_t flags;
};

class ScriptedSystem : public SystemServices {
public:
    ScriptedSystem();
    ~ScriptedSystem() override;

    // Installs this object as sys() (and uninstalls it when destroyed).
    void install();

    // --- what the test sets ---
    OsVersionInfo version{true, VER_PLATFORM_WIN32_NT_, 5, 1};
    uint32_t lcid = 1033;
    std::string fileName = "UPDATE.EXE";
    std::string path = "C:\\PROGRAM\\UPDATE.EXE";

    void addFile(const std::string& name, const std::vector<uint8_t>& bytes);
    void addTextFile(const std::string& name, const std::string& text);
    // Reads of `name` fail once `offset` bytes have been delivered.
    void failReadsAt(const std::string& name, uint32_t offset);
    void removeFile(const std::string& name);

    // Answers for the next message boxes, in order. Without one, a box is
    // answered with IDOK (or IDYES for a Yes/No box).
    void answerNext(int answer);
    // Event creation fails while set.
    bool failEventCreation = false;

    // --- what the test reads ---
    std::vector<RecordedMessageBox> messageBoxes() const;
    std::vector<uint32_t> waits() const; // every waitMilliseconds, in order
    std::vector<std::string> openedFiles() const;
    int openFileCount() const { return openFiles_.load(); }
    int liveEventCount() const { return liveEvents_.load(); }

    // --- SystemServices ---
    OsVersionInfo versionInfo() override;
    uint32_t userDefaultLcid() override;
    std::string moduleFileName() override;
    std::string modulePath() override;
    int messageBox(CWnd* owner, const std::string& text, const std::string& title,
                   uint32_t flags) override;
    void waitMilliseconds(uint32_t milliseconds) override;
    uint32_t clockMilliseconds() override;
    // Advances the virtual clock without a recorded wait (a slow drive).
    void advanceClock(uint32_t milliseconds);

    Handle createEvent() override;
    void setEvent(Handle event) override;
    void resetEvent(Handle event) override;
    void waitEvent(Handle event) override;
    void closeEvent(Handle event) override;

    Handle openFileForReading(const std::string& name) override;
    bool readFile(Handle file, void* buffer, uint32_t size, uint32_t& got) override;
    void closeFile(Handle file) override;

private:
    struct FileData {
        std::vector<uint8_t> bytes;
        uint32_t failAt = UINT32_MAX;
    };
    mutable std::mutex mutex_;
    std::map<std::string, FileData> files_;
    std::deque<int> answers_;
    std::vector<RecordedMessageBox> boxes_;
    std::vector<uint32_t> waits_;
    std::vector<std::string> opened_;
    std::atomic<uint64_t> clock_{0};
    std::atomic<int> openFiles_{0};
    std::atomic<int> liveEvents_{0};
    std::vector<Handle> closedEvents_;
};
