// The command ring a kernel's user-space SCSI backstore shares with its
// handler: a mailbox at the start of one mapping, a ring of command entries
// after it and a data area whose pieces the entries name by offset. This part
// knows the layout only; it neither opens devices nor knows any command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// One command as the kernel queued it.
struct TcmuCommand {
    std::array<uint8_t, 16> cdb{};        // as delivered; bytes past `cdbLength` are zero
    uint8_t cdbLength = 0;                // the length the kernel gives the opcode's group
    std::vector<std::span<uint8_t>> data; // the data pieces, in order
    bool malformed = false; // the entry names bytes outside the mapping: nothing to read
    size_t dataLength() const;
};

// What goes back: the SCSI status, sense data for a CHECK CONDITION, and how
// many bytes of data-in are valid.
struct TcmuResponse {
    uint8_t status = 0;
    std::array<uint8_t, 32> sense{};
    uint32_t readLength = 0;
};

class TcmuRing {
public:
    using Handler = std::function<TcmuResponse(const TcmuCommand&)>;

    // `map` is the whole shared mapping, mailbox first.
    TcmuRing(uint8_t* map, size_t size) : map_(map), size_(size) {}

    // Whether the mailbox describes a ring that fits in the mapping.
    bool valid() const;
    // Answers every entry between the tail and the head in order and moves
    // the tail past them. Returns how many entries were consumed; -1 when an
    // entry's length would leave the ring (nothing more is read then).
    long serve(const Handler& handler);

private:
    TcmuCommand parse(const uint8_t* entry, uint32_t length) const;
    bool inMap(uint64_t offset, uint64_t length) const;

    uint8_t* map_;
    size_t size_;
};

// The command block length the kernel derives from the opcode's group.
uint8_t tcmuCdbLength(uint8_t opcode);
