// orvtcmu: serves a virtual drive to the kernel as the user-space handler of
// a SCSI backstore, so the kernel sees it as a real CD-ROM drive.
//
//   orvtcmu --name NAME --description FILE --results DIR [--wait SECONDS]
//
// NAME is the backstore's name (core/user_N/NAME in the target's configfs);
// the handler waits up to SECONDS (default 30) for its device to appear. The
// drive is the first one FILE describes. What the drive receives goes to DIR
// (see TcmuRecorder.h). SIGTERM or SIGINT stop it after the command at hand.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "virtualdrive/core/VirtualBus.h"
#include "virtualdrive/tcmu/TcmuDevice.h"
#include "virtualdrive/tcmu/TcmuDriveHost.h"
#include "virtualdrive/tcmu/TcmuRecorder.h"
#include "virtualdrive/tcmu/TcmuRing.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStop(int)
{
    stopRequested = 1;
}

struct Options {
    std::string name;
    std::string description;
    std::string results;
    int waitSeconds = 30;
};

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const std::string value = argv[i + 1];
        if (key == "--name") {
            o.name = value;
        } else if (key == "--description") {
            o.description = value;
        } else if (key == "--results") {
            o.results = value;
        } else if (key == "--wait") {
            o.waitSeconds = std::atoi(value.c_str());
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !o.name.empty() && !o.description.empty() && !o.results.empty();
}

int fail(const std::string& message, int code)
{
    std::fprintf(stderr, "orvtcmu: %s\n", message.c_str());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return fail("usage: orvtcmu --name NAME --description FILE --results DIR [--wait SECONDS]",
                    2);

    // SIGTERM and SIGINT are let through only while waiting for commands.
    struct sigaction action {};
    action.sa_handler = onStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigset_t stopSignals, unblocked;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &unblocked);

    VirtualBus bus;
    const auto errors = loadVirtualDrives(options.description, bus);
    for (const auto& e : errors)
        std::fprintf(stderr, "orvtcmu: %s: %s\n", options.description.c_str(), e.c_str());
    if (bus.drives().empty()) return fail("no drive in " + options.description, 2);
    VirtualDrive& drive = *bus.drives().front();
    drive.setLatencySink(
        [](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });

    TcmuRecorder recorder(options.results, options.name);
    if (!recorder.ok()) return fail("cannot write to " + options.results, 2);
    recorder.errors(errors);

    std::optional<int> number;
    for (int tenth = 0; tenth <= options.waitSeconds * 10; ++tenth) {
        number = findTcmuDevice(options.name);
        if (number) break;
        const timespec pause{0, 100 * 1000 * 1000};
        if (sigtimedwait(&stopSignals, nullptr, &pause) > 0) {
            recorder.finish(drive);
            return 0;
        }
    }
    if (!number) return fail("no user-space backstore named " + options.name + " appeared", 3);

    TcmuDevice device;
    if (!device.open(*number)) return fail(device.error(), 3);
    TcmuRing ring(device.map(), device.size());
    if (!ring.valid()) return fail("the mapping holds no command ring", 3);
    std::fprintf(stderr, "orvtcmu: serving %s on /dev/uio%d\n", options.name.c_str(), *number);

    const auto handle = [&](const TcmuCommand& command) {
        const TcmuResponse response = serveOnDrive(drive, command);
        recorder.commandDone(drive);
        return response;
    };
    int status = 0;
    while (!stopRequested) {
        const long served = ring.serve(handle);
        if (served < 0) {
            status = fail("the command ring is broken", 4);
            break;
        }
        if (served > 0) device.notify();
        const TcmuDevice::Wake wake = device.wait(unblocked);
        if (wake == TcmuDevice::Wake::Gone) break;
    }
    recorder.finish(drive);
    std::fprintf(stderr, "orvtcmu: stopped after %zu commands\n", drive.commandCount());
    return status;
}
