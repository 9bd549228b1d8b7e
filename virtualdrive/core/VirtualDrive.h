// A simulated optical drive that answers the drive command protocol the
// updater speaks: INQUIRY, TEST UNIT READY, START STOP UNIT, WRITE BUFFER and
// READ BUFFER (firmware download and the EPS buffers) and the vendor PCB query.
// It keeps what was written to it, so a test can compare the flashed image
// with the firmware file, and it can be told to misbehave: scripted answers
// to TEST UNIT READY, flash errors, a request to send the image again, a
// latency, and a failure for any chosen command.
//
// The drive knows nothing about the operating system. The seams (the
// in-process pass-through and ASPI stand-ins, and the WNASPI32.DLL build) hand
// it a command block, a data buffer and a direction and turn its answer into
// what their caller expects.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

enum class VirtualDirection : uint8_t { None, In, Out };

// A sense triple: the whole sense key byte (flag bits included), ASC, ASCQ.
struct VirtualSense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;
    friend bool operator==(const VirtualSense&, const VirtualSense&) = default;
};

// One scripted answer: what the drive reports instead of doing the command.
// Fields left empty are derived (see VirtualDrive::answerFor in the .cpp and
// docs/virtual-drive.md): a sense triple alone is a CHECK CONDITION, an
// adapter status or request status alone fails the pass-through request with
// ERROR_IO_DEVICE (1117).
struct VirtualStatus {
    std::optional<uint8_t> srbStatus;    // ASPI SRB_Status
    std::optional<uint8_t> haStatus;     // ASPI SRB_HaStat
    std::optional<uint8_t> targetStatus; // SCSI status byte
    std::optional<VirtualSense> sense;
    std::optional<uint32_t> systemError; // pass-through: the request fails with it
    bool any() const { return srbStatus || haStatus || targetStatus || sense || systemError; }
    static VirtualStatus ready() { return {}; }
    static VirtualStatus checkCondition(uint8_t key, uint8_t asc, uint8_t ascq)
    {
        VirtualStatus s;
        s.sense = VirtualSense{key, asc, ascq};
        return s;
    }
};

// A rule that changes how the drive answers chosen commands (or device opens
// and capability queries on the pass-through side). A command matches when
// its opcode, and where given its mode (byte 1, low five bits) and buffer ID
// (byte 2), are equal; the rule then applies to the matching occurrences
// `from` to `to` (counted from 1, `to` 0 = no end).
struct VirtualFault {
    enum class On : uint8_t { Command, Open, Capabilities };
    enum class Access : uint8_t { Any, ReadWrite, ReadOnly };

    On on = On::Command;
    uint8_t opcode = 0;
    std::optional<uint8_t> mode;
    std::optional<uint8_t> bufferId;
    Access access = Access::Any; // opens only
    uint32_t from = 1;
    uint32_t to = 0;

    VirtualStatus status;            // the answer (commands)
    std::optional<uint32_t> latency; // milliseconds, replaces the drive's latency
    uint32_t flipBytes = 0;          // data-in: this many bytes arrive corrupted

    uint32_t seen = 0; // matching occurrences so far (kept by the drive)
};

struct VirtualDriveConfig {
    // Where the drive sits: a drive letter for the pass-through side, an
    // adapter/target address for the ASPI side, or both.
    char letter = 0; // 'A'..'Z', 0 = none
    bool onAspi = false;
    uint8_t adapter = 0;
    uint8_t target = 0;
    unsigned driveType = 5; // what the root path of the letter reports (5 = CD-ROM)

    // INQUIRY data.
    uint8_t deviceType = 0x05;   // byte 0
    uint8_t inquiryByte3 = 0x32; // byte 3 (bits 4 to 7: ATAPI version)
    std::string vendor = "VIRTUAL";
    std::string product = "OPTICAL WRITER";
    std::string revision = "1.00";
    bool answersInquiry13 = true; // opcode 0x13 answered like 0x12

    uint8_t pcbVersion = 1;
    std::string epsVersion = "EPS1000";    // buffer 0x84 before any commit
    std::string epsNewVersion = "EPS2000"; // buffer 0x84 after a commit
    uint32_t epsSize = 0x10000;            // size of buffer 0x81
    uint32_t flashSize = 0x1000000;        // largest firmware image accepted

    bool mediumLoaded = false;
    std::vector<VirtualStatus> turScript; // first answers to TEST UNIT READY
    uint32_t askAgainTimes = 0;           // how many final chunks get 04-40-F7
    uint32_t askAgainProbe = 3;           // on this TEST UNIT READY after it

    uint32_t latency = 0;            // milliseconds per command
    uint32_t passThroughMask = 0;    // alignment mask the capability query reports
    bool deferredCompletion = false; // ASPI: complete requests from another thread
    uint32_t completionDelay = 10;   // real milliseconds before a deferred completion

    std::vector<VirtualFault> faults;
};

// A command as the drive received it.
struct VirtualCommandRecord {
    std::array<uint8_t, 16> cdb{};
    uint8_t cdbLength = 0;
    VirtualDirection direction = VirtualDirection::None;
    uint32_t dataLength = 0;
    std::vector<uint8_t> data;   // data-out commands: the bytes received
    uint32_t timeoutSeconds = 0; // pass-through requests; 0 for ASPI
    bool viaAspi = false;
    // The answer given.
    bool requestFailed = false;
    uint32_t systemError = 0;
    uint8_t srbStatus = 0;
    uint8_t haStatus = 0;
    uint8_t scsiStatus = 0;
    VirtualSense sense;
};

struct VirtualRequest {
    const uint8_t* cdb = nullptr;
    uint8_t cdbLength = 0;
    uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    VirtualDirection direction = VirtualDirection::None;
    bool viaAspi = false;
    uint32_t timeoutSeconds = 0; // 0 = none
};

// The drive's answer, in both views.
struct VirtualAnswer {
    // Pass-through view: whether the request itself went through, the Win32
    // error when it did not, the SCSI status and 32 bytes of sense data.
    bool requestOk = true;
    uint32_t systemError = 0;
    uint8_t scsiStatus = 0;
    std::array<uint8_t, 32> sense{};
    // ASPI view.
    uint8_t srbStatus = 0x01; // SS_COMP
    uint8_t haStatus = 0;
    uint8_t targetStatus = 0;
    uint32_t transferred = 0;
};

inline constexpr uint32_t kErrorIoDevice = 1117;  // ERROR_IO_DEVICE
inline constexpr uint32_t kErrorSemTimeout = 121; // ERROR_SEM_TIMEOUT
inline constexpr uint32_t kEpsDataOffset = 0x3400;

class VirtualDrive {
public:
    // Receives each command's latency, in milliseconds, before the answer is
    // given: tests advance a scripted clock, the DLL sleeps.
    using LatencySink = std::function<void(uint32_t)>;

    explicit VirtualDrive(VirtualDriveConfig config);

    // Runs one command. Thread-safe; commands are answered one at a time.
    VirtualAnswer execute(const VirtualRequest& request);
    // Pass-through side: opening the device and the capability query, with
    // their faults. `mask` receives the alignment mask.
    bool open(bool readWrite);
    bool capabilities(uint32_t& mask);

    void setLatencySink(LatencySink sink);

    // --- what a test reads ---
    VirtualDriveConfig config() const;
    std::vector<VirtualCommandRecord> commands() const;
    std::optional<VirtualCommandRecord> lastCommand() const;
    size_t commandCount() const;
    void clearCommands();
    uint32_t ejectCount() const;
    bool trayOpen() const;
    uint32_t flashCount() const;
    std::vector<uint8_t> flashedImage() const;  // the image of the last flash
    std::vector<uint8_t> receivedImage() const; // chunks since the last flash
    std::vector<uint8_t> epsCommitted() const;  // buffer 0x81 as last committed
    std::string reportedEpsVersion() const;
    uint32_t epsCommitCount() const;
    uint32_t openCount() const;

private:
    struct Outcome {
        VirtualStatus status; // empty = GOOD
        uint32_t transferred = 0;
    };

    Outcome perform(const VirtualRequest& request, uint32_t& flip);
    Outcome inquiry(const VirtualRequest& request);
    Outcome testUnitReady();
    Outcome startStopUnit(const VirtualRequest& request);
    Outcome writeBuffer(const VirtualRequest& request);
    Outcome readBuffer(const VirtualRequest& request);
    Outcome vendorQuery(const VirtualRequest& request);
    Outcome stateAnswer() const;
    // What a host sends any CD-ROM drive of its own accord; nothing for
    // other opcodes.
    std::optional<Outcome> hostCommand(const VirtualRequest& request);
    Outcome requestSense(const VirtualRequest& request);
    Outcome modeSense(const VirtualRequest& request);
    Outcome getConfiguration(const VirtualRequest& request);
    Outcome eventStatus(const VirtualRequest& request);

    mutable std::mutex mutex_;
    VirtualDriveConfig config_;
    LatencySink sink_;
    std::vector<VirtualCommandRecord> commands_;

    bool trayOpen_ = false;
    uint32_t ejects_ = 0;
    size_t turScriptNext_ = 0;
    std::vector<uint8_t> received_;
    std::vector<bool> receivedCovered_;
    std::vector<uint8_t> flashed_;
    uint32_t flashes_ = 0;
    uint32_t askAgainLeft_ = 0;
    uint32_t probesSinceFlash_ = 0;
    bool probing_ = false;

    std::vector<uint8_t> epsStaging_;
    std::vector<uint8_t> epsCommitted_;
    bool epsPrepared_ = false;
    bool epsWritten_ = false;
    uint32_t epsCommits_ = 0;
    std::string epsReported_;
    uint32_t opens_ = 0;
};

// Builds fixed-format sense data (response code 0x70, 18 bytes used).
std::array<uint8_t, 32> virtualSenseData(const VirtualSense& sense);
// "KK-AA-QQ" in upper-case hex.
std::string virtualSenseText(const VirtualSense& sense);
// One line for a command log: the block, direction and length, the answer.
// "3B 05 00 00 00 00 00 20 00 00 | out 8192 | srb 01 ha 00 scsi 00 sense 00-00-00"
std::string virtualCommandLine(const VirtualCommandRecord& record);
