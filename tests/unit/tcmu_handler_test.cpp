// The handler's ring, drive host and recorder together, against a mailbox and
// command ring laid out in memory the way the kernel lays them out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "virtualdrive/core/VirtualBus.h"
#include "virtualdrive/tcmu/TcmuDriveHost.h"
#include "virtualdrive/tcmu/TcmuLayout.h"
#include "virtualdrive/tcmu/TcmuRecorder.h"
#include "virtualdrive/tcmu/TcmuRing.h"

namespace {

constexpr uint32_t kRingOffset = kMailboxSize;
constexpr uint32_t kRingSize = 1024; // small, so entries wrap
constexpr uint32_t kDataOffset = kRingOffset + kRingSize;

template <typename T> void put(uint8_t* p, T v)
{
    std::memcpy(p, &v, sizeof v);
}
template <typename T> T get(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A mailbox, a ring and a data area in one buffer; commands are queued as
// the kernel queues them, padding to the ring's end when one does not fit.
class FakeRing {
public:
    FakeRing() : map_(kDataOffset + 0x10000, 0)
    {
        put<uint16_t>(&map_[0], 2);
        put<uint16_t>(&map_[kMailboxFlags], kCapReadLength);
        put<uint32_t>(&map_[kMailboxRingOffset], kRingOffset);
        put<uint32_t>(&map_[kMailboxRingSize], kRingSize);
    }

    struct Queued {
        uint32_t entry;               // offset of the entry in the mapping
        std::vector<uint32_t> pieces; // offsets of the data pieces
    };

    // `cdb` as delivered, then 0xAA where the entry has room; `pieces` are
    // data-out bytes or, for data-in, buffers whose contents do not matter.
    Queued queue(const std::vector<uint8_t>& cdb,
                 const std::vector<std::vector<uint8_t>>& pieces = {}, uint64_t badPieceOffset = 0)
    {
        const uint32_t cdbAt = kEntryIov + uint32_t(pieces.size()) * kEntryIovSize;
        const uint32_t length = std::max<uint32_t>(kEntrySize, (cdbAt + 16 + 7) & ~7u);
        uint32_t head = get<uint32_t>(&map_[kMailboxHead]);
        if (head + length > kRingSize) {
            put<uint32_t>(&map_[kRingOffset + head], (kRingSize - head) | kOpPad);
            head = 0;
        }
        uint8_t* e = &map_[kRingOffset + head];
        std::memset(e, 0xAA, length);
        put<uint32_t>(e, length | kOpCommand);
        e[kEntryUserFlags] = 0;
        put<uint32_t>(e + kEntryIovCount, uint32_t(pieces.size()));
        put<uint64_t>(e + kEntryCdbOffset, kRingOffset + head + cdbAt);
        std::memcpy(e + cdbAt, cdb.data(), cdb.size());
        Queued q{kRingOffset + head, {}};
        for (size_t i = 0; i < pieces.size(); ++i) {
            const uint64_t at = badPieceOffset != 0 ? badPieceOffset : data_;
            put<uint64_t>(e + kEntryIov + i * kEntryIovSize, at);
            put<uint64_t>(e + kEntryIov + i * kEntryIovSize + 8, pieces[i].size());
            if (badPieceOffset == 0) std::memcpy(&map_[data_], pieces[i].data(), pieces[i].size());
            q.pieces.push_back(data_);
            data_ += uint32_t(pieces[i].size());
        }
        put<uint32_t>(&map_[kMailboxHead], (head + length) % kRingSize);
        return q;
    }

    uint8_t* map() { return map_.data(); }
    size_t size() const { return map_.size(); }
    uint32_t head() const { return get<uint32_t>(&map_[kMailboxHead]); }
    uint32_t tail() const { return get<uint32_t>(&map_[kMailboxTail]); }
    uint8_t status(const Queued& q) const { return map_[q.entry + kEntryStatus]; }
    uint32_t readLength(const Queued& q) const
    {
        return get<uint32_t>(&map_[q.entry + kEntryReadLength]);
    }
    uint8_t userFlags(const Queued& q) const { return map_[q.entry + kEntryUserFlags]; }
    std::string sense(const Queued& q) const
    {
        const uint8_t* s = &map_[q.entry + kEntrySense];
        return virtualSenseText(VirtualSense{s[2], s[12], s[13]});
    }
    const uint8_t* piece(const Queued& q, size_t i) const { return &map_[q.pieces[i]]; }
    void resetData() { data_ = kDataOffset; }

private:
    std::vector<uint8_t> map_;
    uint32_t data_ = kDataOffset;
};

std::vector<uint8_t> bytes(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 7));
    return v;
}

std::vector<uint8_t> fileBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> lines(const std::filesystem::path& p)
{
    std::ifstream in(p);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

struct Handler {
    explicit Handler(const std::string& description)
    {
        EXPECT_TRUE(parseVirtualDrives(description, bus).empty());
        drive = bus.drives().front();
        folder =
            std::filesystem::temp_directory_path() / ("orvtcmu-test-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder);
        recorder = std::make_unique<TcmuRecorder>(folder.string(), "cd0");
    }
    ~Handler() { std::filesystem::remove_all(folder); }

    long serve(FakeRing& ring)
    {
        TcmuRing r(ring.map(), ring.size());
        return r.serve([&](const TcmuCommand& c) {
            const TcmuResponse response = serveOnDrive(*drive, c);
            recorder->commandDone(*drive);
            return response;
        });
    }

    VirtualBus bus;
    VirtualDrive* drive = nullptr;
    std::filesystem::path folder;
    std::unique_ptr<TcmuRecorder> recorder;
};

const char* kDrive =
    "[drive]\naddress = 0:1\nvendor = VIRTUAL\nproduct = OPTICAL WRITER\npcb = 2\n";

} // namespace

TEST(TcmuHandler, ServesTheUpdatersAndTheKernelsCommandsThroughTheRing)
{
    Handler h(kDrive);
    FakeRing ring;
    const auto image = bytes(0x3000, 5);
    const std::vector<uint8_t> first(image.begin(), image.begin() + 0x1000);
    const std::vector<uint8_t> second(image.begin() + 0x1000, image.end());

    const auto inquiry = ring.queue({0x12, 0, 0, 0, 96, 0}, {std::vector<uint8_t>(96)});
    // The vendor query arrives as a 10-byte block, the rest of its entry not zero.
    const auto pcb =
        ring.queue({0xF5, 0, 0, 0, 0x00, 0x0F, 0x80, 0x48, 0, 16}, {std::vector<uint8_t>(16)});
    const auto flash = ring.queue({0x3B, 5, 0, 0, 0, 0, 0, 0x30, 0, 0}, {first, second});
    const auto capacity = ring.queue({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {std::vector<uint8_t>(8)});
    const auto events = ring.queue({0x4A, 1, 0, 0, 0x10, 0, 0, 0, 8, 0}, {std::vector<uint8_t>(8)});
    const auto unknown = ring.queue({0x2F, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const auto noBuffer = ring.queue({0x12, 0, 0, 0, 36, 0});
    EXPECT_EQ(h.serve(ring), 7);
    EXPECT_EQ(ring.tail(), ring.head());

    EXPECT_EQ(ring.status(inquiry), 0);
    EXPECT_EQ(ring.readLength(inquiry), 36u) << "the kernel is told how much data-in is valid";
    EXPECT_EQ(ring.userFlags(inquiry), kUserFlagReadLength);
    EXPECT_EQ(ring.piece(inquiry, 0)[0], 0x05) << "a CD-ROM: the kernel's CD driver binds";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ring.piece(inquiry, 0)) + 8, 24),
              "VIRTUAL OPTICAL WRITER  ");
    EXPECT_EQ(ring.status(pcb), 0) << ring.sense(pcb);
    EXPECT_EQ(ring.piece(pcb, 0)[0], 2);
    EXPECT_EQ(ring.status(flash), 0);
    EXPECT_EQ(h.drive->flashedImage(), image) << "data-out gathered from both pieces";
    EXPECT_EQ(ring.status(capacity), 2);
    EXPECT_EQ(ring.sense(capacity), "02-3A-01");
    EXPECT_EQ(ring.status(events), 0);
    EXPECT_EQ(ring.piece(events, 0)[2], 0x04) << "media event class";
    EXPECT_EQ(ring.sense(unknown), "05-20-00");
    EXPECT_EQ(ring.sense(noBuffer), "0B-4B-00") << "data phase error, not a silent success";

    // Entries wrap at the ring's end behind a padding entry.
    ring.resetData();
    for (int i = 0; i < 12; ++i) {
        const auto tur = ring.queue({0, 0, 0, 0, 0, 0});
        ASSERT_EQ(h.serve(ring) >= 1, true);
        EXPECT_EQ(ring.sense(tur), "02-3A-01");
        EXPECT_EQ(ring.tail(), ring.head());
    }

    const auto log = lines(h.folder / "commands.log");
    ASSERT_EQ(log.size(), 1u + 7u + 12u);
    EXPECT_EQ(log[0].rfind("# started ", 0), 0u);
    EXPECT_NE(log[2].find(" updater F5 00 00 00 00 0F 80 48 00 10 00 00 | in 16 |"),
              std::string::npos)
        << log[2];
    char crc[32];
    std::snprintf(crc, sizeof crc, "| crc32 %08X", crc32Of(image));
    EXPECT_NE(log[3].find(" updater 3B 05 00 00 00 00 00 30 00 00 | out 12288 |"),
              std::string::npos);
    EXPECT_NE(log[3].find(crc), std::string::npos) << log[3];
    EXPECT_NE(log[4].find(" kernel 25 "), std::string::npos) << log[4];
    EXPECT_NE(log[8].find(" either 00 "), std::string::npos) << log[8];
    EXPECT_EQ(fileBytes(h.folder / "flash.bin"), image);
    EXPECT_EQ(fileBytes(h.folder / "flash-1.bin"), image);
    EXPECT_EQ(lines(h.folder / "state.txt")[2], "flashes=1");
}

TEST(TcmuHandler, RefusesEntriesThatPointOutsideTheMapping)
{
    Handler h(kDrive);
    FakeRing ring;
    const auto bad = ring.queue({0x3B, 4, 0, 0, 0, 0, 0, 0x10, 0, 0}, {bytes(0x1000, 1)},
                                /*badPieceOffset=*/ring.size() - 0x800);
    const auto good = ring.queue({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(h.serve(ring), 2);
    EXPECT_EQ(ring.status(bad), 2);
    EXPECT_EQ(ring.sense(bad), "04-44-00");
    EXPECT_EQ(ring.sense(good), "02-3A-01");
    EXPECT_EQ(h.drive->commandCount(), 1u) << "the drive never saw the bad entry";
    const auto log = lines(h.folder / "commands.log");
    ASSERT_EQ(log.size(), 3u);
    EXPECT_NE(log[1].find("not delivered"), std::string::npos);

    // An entry whose length leaves the ring stops the walk.
    FakeRing broken;
    broken.queue({0, 0, 0, 0, 0, 0});
    put<uint32_t>(broken.map() + kRingOffset, 0u | kOpCommand);
    EXPECT_EQ(h.serve(broken), -1);
}
