#include "platform/scripted/ScriptedSystem.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace {

struct ScriptedEvent {
    std::mutex mutex;
    std::condition_variable signalled;
    bool set = false;
};

struct ScriptedFile {
    std::vector<uint8_t> bytes;
    uint32_t failAt;
    uint32_t position = 0;
};

} // namespace

ScriptedSystem::ScriptedSystem() = default;

ScriptedSystem::~ScriptedSystem()
{
    installSystemServices(nullptr);
    for (Handle event : closedEvents_)
        delete static_cast<ScriptedEvent*>(event);
}

void ScriptedSystem::install()
{
    installSystemServices(this);
}

void ScriptedSystem::addFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(mutex_);
    files_[name].bytes = bytes;
}

void ScriptedSystem::addTextFile(const std::string& name, const std::string& text)
{
    addFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}

void ScriptedSystem::failReadsAt(const std::string& name, uint32_t offset)
{
    std::lock_guard lock(mutex_);
    files_[name].failAt = offset;
}

void ScriptedSystem::removeFile(const std::string& name)
{
    std::lock_guard lock(mutex_);
    files_.erase(name);
}

void ScriptedSystem::answerNext(int answer)
{
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}

std::vector<RecordedMessageBox> ScriptedSystem::messageBoxes() const
{
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<uint32_t> ScriptedSystem::waits() const
{
    std::lock_guard lock(mutex_);
    return waits_;
}

std::vector<std::string> ScriptedSystem::openedFiles() const
{
    std::lock_guard lock(mutex_);
    return opened_;
}

OsVersionInfo ScriptedSystem::versionInfo()
{
    return version;
}

uint32_t ScriptedSystem::userDefaultLcid()
{
    return lcid;
}

std::string ScriptedSystem::moduleFileName()
{
    return fileName;
}

std::string ScriptedSystem::modulePath()
{
    return path;
}

int ScriptedSystem::messageBox(CWnd* owner, const std::string& text, const std::string& title,
                               uint32_t flags)
{
    std::lock_guard lock(mutex_);
    boxes_.push_back({owner, text, title, flags});
    if (!answers_.empty()) {
        const int answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    return (flags & 0xF) == MB_YESNO_ ? IDYES_ : IDOK_;
}

void ScriptedSystem::waitMilliseconds(uint32_t milliseconds)
{
    {
        std::lock_guard lock(mutex_);
        waits_.push_back(milliseconds);
    }
    clock_ += milliseconds;
    // Let a polled worker thread make progress without real waiting.
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}

uint32_t ScriptedSystem::clockMilliseconds()
{
    return static_cast<uint32_t>(clock_.load());
}

void ScriptedSystem::advanceClock(uint32_t milliseconds)
{
    clock_ += milliseconds;
}

Handle ScriptedSystem::createEvent()
{
    if (failEventCreation) return nullptr;
    ++liveEvents_;
    return new ScriptedEvent;
}

void ScriptedSystem::setEvent(Handle event)
{
    auto* e = static_cast<ScriptedEvent*>(event);
    std::lock_guard lock(e->mutex);
    e->set = true;
    e->signalled.notify_all();
}

void ScriptedSystem::resetEvent(Handle event)
{
    auto* e = static_cast<ScriptedEvent*>(event);
    std::lock_guard lock(e->mutex);
    e->set = false;
}

void ScriptedSystem::waitEvent(Handle event)
{
    auto* e = static_cast<ScriptedEvent*>(event);
    std::unique_lock lock(e->mutex);
    e->signalled.wait(lock, [e] { return e->set; });
    e->set = false; // automatic reset
}

void ScriptedSystem::closeEvent(Handle event)
{
    // A library that completes a request on its own thread may still signal
    // the event after the caller has closed it (Windows tolerates a stale
    // handle there), so closed events are kept until the platform goes away.
    --liveEvents_;
    std::lock_guard lock(mutex_);
    closedEvents_.emplace_back(event);
}

Handle ScriptedSystem::openFileForReading(const std::string& name)
{
    std::lock_guard lock(mutex_);
    opened_.push_back(name);
    const auto found = files_.find(name);
    if (found == files_.end()) return nullptr;
    ++openFiles_;
    return new ScriptedFile{found->second.bytes, found->second.failAt};
}

bool ScriptedSystem::readFile(Handle file, void* buffer, uint32_t size, uint32_t& got)
{
    auto* f = static_cast<ScriptedFile*>(file);
    got = 0;
    if (f->position >= f->failAt) return false;
    const size_t left = f->bytes.size() - f->position;
    uint32_t n = size < left ? size : static_cast<uint32_t>(left);
    if (f->failAt != UINT32_MAX && f->position + n > f->failAt) n = f->failAt - f->position;
    if (n > 0) std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    got = n;
    return true;
}

void ScriptedSystem::closeFile(Handle file)
{
    --openFiles_;
    delete static_cast<ScriptedFile*>(file);
}
