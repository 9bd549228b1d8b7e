// Walking the command ring: entries from the tail to the head, each either
// padding (skipped) or a command (answered in place), the tail moved on after
// each. Every offset the kernel gives is checked against the mapping before
// it is used.
#include "virtualdrive/tcmu/TcmuRing.h"

#include <sys/uio.h>

#include <algorithm>
#include <cstring>

#include "virtualdrive/tcmu/TcmuLayout.h"

namespace {

template <typename T> T readAt(const uint8_t* p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T> void writeAt(uint8_t* p, T value)
{
    std::memcpy(p, &value, sizeof value);
}

uint32_t* mailboxWord(uint8_t* map, size_t offset)
{
    return reinterpret_cast<uint32_t*>(map + offset);
}

static_assert(sizeof(iovec) == kEntryIovSize);

} // namespace

size_t TcmuCommand::dataLength() const
{
    size_t n = 0;
    for (const auto& piece : data)
        n += piece.size();
    return n;
}

uint8_t tcmuCdbLength(uint8_t opcode)
{
    static constexpr uint8_t kByGroup[8] = {6, 10, 10, 12, 16, 12, 10, 10};
    return kByGroup[opcode >> 5];
}

bool TcmuRing::inMap(uint64_t offset, uint64_t length) const
{
    return offset <= size_ && length <= size_ - offset;
}

bool TcmuRing::valid() const
{
    if (size_ < kMailboxSize) return false;
    const auto offset = readAt<uint32_t>(map_ + kMailboxRingOffset);
    const auto ringSize = readAt<uint32_t>(map_ + kMailboxRingSize);
    return offset >= kMailboxSize && ringSize != 0 && inMap(offset, ringSize);
}

TcmuCommand TcmuRing::parse(const uint8_t* entry, uint32_t length) const
{
    TcmuCommand command;
    const auto count = uint64_t{readAt<uint32_t>(entry + kEntryIovCount)};
    const auto cdbOffset = readAt<uint64_t>(entry + kEntryCdbOffset);
    if (kEntryIov + count * kEntryIovSize > length || !inMap(cdbOffset, 1)) {
        command.malformed = true;
        return command;
    }
    command.cdbLength = tcmuCdbLength(map_[cdbOffset]);
    if (!inMap(cdbOffset, command.cdbLength)) {
        command.malformed = true;
        return command;
    }
    std::memcpy(command.cdb.data(), map_ + cdbOffset, command.cdbLength);
    for (uint64_t i = 0; i < count; ++i) {
        const auto iov = readAt<iovec>(entry + kEntryIov + i * kEntryIovSize);
        const auto offset = reinterpret_cast<uintptr_t>(iov.iov_base);
        if (!inMap(offset, iov.iov_len)) {
            command.malformed = true;
            command.data.clear();
            return command;
        }
        command.data.emplace_back(map_ + offset, iov.iov_len);
    }
    return command;
}

long TcmuRing::serve(const Handler& handler)
{
    if (!valid()) return -1;
    const auto ringOffset = readAt<uint32_t>(map_ + kMailboxRingOffset);
    const auto ringSize = readAt<uint32_t>(map_ + kMailboxRingSize);
    const auto flags = readAt<uint16_t>(map_ + kMailboxFlags);
    uint32_t* headWord = mailboxWord(map_, kMailboxHead);
    uint32_t* tailWord = mailboxWord(map_, kMailboxTail);

    const uint32_t head = __atomic_load_n(headWord, __ATOMIC_ACQUIRE);
    uint32_t tail = __atomic_load_n(tailWord, __ATOMIC_RELAXED);
    long consumed = 0;
    while (tail != head) {
        if (tail >= ringSize || ringSize - tail < kEntryHeaderSize) return -1;
        uint8_t* entry = map_ + ringOffset + tail;
        const auto lenOp = readAt<uint32_t>(entry + kEntryLenOp);
        const uint32_t length = lenOp & ~uint32_t{kOpMask};
        if (length < kEntryHeaderSize || length > ringSize - tail) return -1;

        if ((lenOp & kOpMask) == kOpCommand && length >= kEntrySize) {
            // The answer overlays the request: read it whole first.
            const TcmuResponse response = handler(parse(entry, length));
            entry[kEntryStatus] = response.status;
            std::memset(entry + kEntrySense, 0, kEntrySenseSize);
            std::memcpy(entry + kEntrySense, response.sense.data(),
                        std::min<size_t>(response.sense.size(), kEntrySenseSize));
            entry[kEntryUserFlags] = 0;
            if ((flags & kCapReadLength) != 0) {
                entry[kEntryUserFlags] = kUserFlagReadLength;
                writeAt<uint32_t>(entry + kEntryReadLength, response.readLength);
            }
        }
        // Padding, task management notices and unknown entries need no answer.
        tail = (tail + length) % ringSize;
        __atomic_store_n(tailWord, tail, __ATOMIC_RELEASE);
        ++consumed;
    }
    return consumed;
}
