// What the update costs in software: one chunk through each transport
// against a virtual drive that answers at once, a whole 512 KiB update, and
// the user-interface thread's processor time while the monitor polls
// through a real 15-second settle wait.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "app/Language.h"
#include "package/UpdatePackage.h"
#include "platform/model/ModelWindows.h"
#include "platform/scripted/ScriptedSystem.h"
#include "transport/AspiTransport.h"
#include "transport/DriveCommands.h"
#include "transport/DriveRecords.h"
#include "ui/MainWindow.h"
#include "update/ProgressMonitor.h"
#include "update/UpdateState.h"
#include "update/UpdateWorker.h"
#include "virtualdrive/seams/VirtualDriveSeams.h"

namespace {

constexpr uint32_t kChunk = 0x2000;
constexpr uint32_t kImage = 0x80000;
constexpr uint32_t kChunks = kImage / kChunk;
// The drive keeps a record of every command; it is cleared this often so a
// long run does not grow without end (the same for every benchmark here).
constexpr int kClearEvery = 256;

// The scripted system with a real clock: waits sleep, the clock runs.
class RealClockSystem : public ScriptedSystem {
public:
    void waitMilliseconds(uint32_t milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    uint32_t clockMilliseconds() override
    {
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start_)
                                         .count());
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

std::vector<uint8_t> makeImage()
{
    std::vector<uint8_t> image(kImage);
    for (uint32_t i = 0; i < kImage; ++i)
        image[i] = static_cast<uint8_t>(i * 131 + 7);
    return image;
}

// One virtual drive at E: and at adapter 0, target 1, answering at once.
struct Bench {
    explicit Bench(bool aspi)
    {
        system.install();
        VirtualDriveConfig config;
        config.letter = 'E';
        config.onAspi = true;
        config.target = 1;
        config.mediumLoaded = true;
        drive = bus.addDrive(config);
        installVirtualDrives(bus);
        resetDriveTable();
        driveEntries[0].target = 1;
        std::strcpy(driveEntries[0].driveLetter, "E");
        std::strcpy(driveEntries[0].displayText, "E: VIRTUAL OPTICAL WRITER 1.00");
        driveCount = 1;
        usePassThrough = aspi ? 0 : 1;
        if (aspi) loadAspi();
        image = makeImage();
        std::memset(&package, 0, sizeof package);
        package.firmwareImage = image.data();
        package.firmwareFileSize = kImage;
        package.bufferSize = kChunk;
        package.options.noRestart = 1;
    }
    ~Bench()
    {
        if (usePassThrough == 0) unloadAspi();
        uninstallVirtualDrives();
        package.firmwareImage = nullptr;
    }

    ScriptedSystem system;
    VirtualBus bus;
    VirtualDrive* drive = nullptr;
    std::vector<uint8_t> image;
};

void chunkThroughTransport(benchmark::State& state, bool aspi)
{
    Bench bench(aspi);
    uint32_t k = 0;
    int sinceClear = 0;
    for (auto _ : state) {
        const int result =
            writeBuffer(driveEntries[0], bench.image.data() + k * kChunk, kChunk, k * kChunk, 4, 0);
        benchmark::DoNotOptimize(result);
        k = (k + 1) % (kChunks - 1);
        if (++sinceClear == kClearEvery) {
            bench.drive->clearCommands();
            sinceClear = 0;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}

void BM_ChunkPassThrough(benchmark::State& state)
{
    chunkThroughTransport(state, false);
}
BENCHMARK(BM_ChunkPassThrough);

void BM_ChunkAspi(benchmark::State& state)
{
    chunkThroughTransport(state, true);
}
BENCHMARK(BM_ChunkAspi);

// The drive's own cost for the same chunk: the command handed to it directly.
void BM_ChunkVirtualDriveAlone(benchmark::State& state)
{
    Bench bench(false);
    uint32_t k = 0;
    int sinceClear = 0;
    uint8_t cdb[12] = {0x3B, 4, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0};
    for (auto _ : state) {
        const uint32_t offset = k * kChunk;
        cdb[3] = static_cast<uint8_t>(offset >> 16);
        cdb[4] = static_cast<uint8_t>(offset >> 8);
        cdb[5] = static_cast<uint8_t>(offset);
        VirtualRequest request;
        request.cdb = cdb;
        request.cdbLength = 10;
        request.data = bench.image.data() + offset;
        request.dataLength = kChunk;
        request.direction = VirtualDirection::Out;
        request.timeoutSeconds = 10;
        benchmark::DoNotOptimize(bench.drive->execute(request));
        k = (k + 1) % (kChunks - 1);
        if (++sinceClear == kClearEvery) {
            bench.drive->clearCommands();
            sinceClear = 0;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_ChunkVirtualDriveAlone);

// A whole update of 512 KiB in 8 KiB chunks, on this thread, waits at zero.
void wholeUpdate(benchmark::State& state, bool aspi)
{
    Bench bench(aspi);
    package.options.updateWaitTime = 0;
    for (auto _ : state) {
        updateState.transferCount.store(1);
        updateState.phase.store(PhaseFlashing);
        updateThreadProc(nullptr);
        if (updateState.phase.load() != PhaseDone) state.SkipWithError("update failed");
        bench.drive->clearCommands();
    }
    state.counters["chunks"] = kChunks;
}

void BM_WholeUpdatePassThrough(benchmark::State& state)
{
    wholeUpdate(state, false);
}
BENCHMARK(BM_WholeUpdatePassThrough)->Unit(benchmark::kMicrosecond);

void BM_WholeUpdateAspi(benchmark::State& state)
{
    wholeUpdate(state, true);
}
BENCHMARK(BM_WholeUpdateAspi)->Unit(benchmark::kMicrosecond);

// The same commands handed to the drive directly: the sum of its answers.
void BM_WholeUpdateDriveAnswers(benchmark::State& state)
{
    Bench bench(false);
    uint8_t tur[12] = {};
    uint8_t eject[12] = {0x1B, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    for (auto _ : state) {
        VirtualRequest probe;
        probe.cdb = tur;
        probe.cdbLength = 6;
        bench.drive->execute(probe);
        bench.drive->execute(probe);
        VirtualRequest ej = probe;
        ej.cdb = eject;
        bench.drive->execute(ej);
        uint8_t cdb[12] = {0x3B, 4, 0, 0, 0, 0, 0, 0x20, 0, 0, 0, 0};
        for (uint32_t k = 0; k < kChunks; ++k) {
            const uint32_t offset = k * kChunk;
            cdb[1] = k + 1 == kChunks ? 5 : 4;
            cdb[3] = static_cast<uint8_t>(offset >> 16);
            cdb[4] = static_cast<uint8_t>(offset >> 8);
            cdb[5] = static_cast<uint8_t>(offset);
            VirtualRequest request;
            request.cdb = cdb;
            request.cdbLength = 10;
            request.data = bench.image.data() + offset;
            request.dataLength = kChunk;
            request.direction = VirtualDirection::Out;
            benchmark::DoNotOptimize(bench.drive->execute(request));
        }
        bench.drive->clearCommands();
    }
    state.counters["chunks"] = kChunks;
}
BENCHMARK(BM_WholeUpdateDriveAnswers)->Unit(benchmark::kMicrosecond);

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The monitor on this (user-interface) thread while the worker sits in a
// real 15-second settle wait: polling should cost next to nothing.
void BM_MonitorThroughSettleWait(benchmark::State& state)
{
    Bench bench(false);
    RealClockSystem realClock;
    realClock.install();
    userLcid = 1033;
    package.options.updateWaitTime = 15;
    for (auto _ : state) {
        double cpu = 0;
        double wall = 0;
        int result = 0;
        MainWindow window;
        ScriptedModalDriver driver;
        driver.then([&](CDialog& dialog) {
            const auto start = std::chrono::steady_clock::now();
            const double before = threadCpuSeconds();
            result = monitorProgress();
            cpu = threadCpuSeconds() - before;
            wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            dialog.endDialog(IDCANCEL_);
        });
        ModalDriverScope scope(&driver);
        window.doModal();
        if (result != 1) state.SkipWithError("update failed");
        state.counters["ui_cpu_ms"] = cpu * 1000.0;
        state.counters["wall_s"] = wall;
        state.counters["ui_cpu_share_pct"] = wall > 0 ? cpu / wall * 100.0 : 0.0;
    }
    bench.system.install();
}
BENCHMARK(BM_MonitorThroughSettleWait)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
