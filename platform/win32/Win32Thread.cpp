// Worker threads and the application object.
#include <windows.h>

#include <process.h>

#include "platform/classlib/ClassLib.h"

namespace {

// A started thread. It releases itself (and its handle) when its function
// returns; nobody joins it.
class Win32Thread final : public CWinThread {
public:
    Win32Thread(unsigned (*entry)(void*), void* parameter) : entry_(entry), parameter_(parameter) {}
    ~Win32Thread() override
    {
        if (handle_ != nullptr) CloseHandle(handle_);
    }

    static unsigned __stdcall run(void* self)
    {
        auto* thread = static_cast<Win32Thread*>(self);
        const unsigned result = thread->entry_(thread->parameter_);
        delete thread;
        return result;
    }

    HANDLE handle_ = nullptr;

private:
    unsigned (*entry_)(void*);
    void* parameter_;
};


} // namespace

CWinThread* beginThread(unsigned (*entry)(void*), void* parameter)
{
    if (entry == nullptr) return nullptr;
    auto* thread = new Win32Thread(entry, parameter);
    unsigned id = 0;
    // Started suspended so that the handle is stored before the thread can
    // end and release the object.
    const uintptr_t handle =
        _beginthreadex(nullptr, 0, &Win32Thread::run, thread, CREATE_SUSPENDED, &id);
    if (handle == 0) {
        delete thread;
        return nullptr;
    }
    thread->handle_ = reinterpret_cast<HANDLE>(handle);
    SetThreadPriority(thread->handle_, THREAD_PRIORITY_NORMAL);
    if (ResumeThread(thread->handle_) == static_cast<DWORD>(-1)) {
        // Never ran: end it and release the object here.
        TerminateThread(thread->handle_, 0);
        delete thread;
        return nullptr;
    }
    return thread;
}

