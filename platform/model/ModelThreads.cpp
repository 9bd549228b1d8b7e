// Threads of the in-memory class library: real detached threads, and a switch
// that makes starting one fail.
#include <atomic>
#include <new>
#include <system_error>
#include <thread>

#include "platform/model/ModelWindows.h"

namespace {

std::atomic<bool> failThreadStarts{false};

} // namespace

// ---------------------------------------------------------------------------
// Threads and the application

CWinThread* beginThread(unsigned (*entry)(void*), void* parameter)
{
    if (entry == nullptr || failThreadStarts.load()) return nullptr;
    // Like the thread object of the Windows library, it deletes itself when
    // the thread ends; nobody joins the thread.
    auto* thread = new (std::nothrow) CWinThread;
    if (thread == nullptr) return nullptr;
    try {
        std::thread([entry, parameter, thread] {
            entry(parameter);
            delete thread;
        }).detach();
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void setModelThreadStartFailure(bool fail)
{
    failThreadStarts.store(fail);
}
