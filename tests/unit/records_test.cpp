#include <gtest/gtest.h>

#include <cstddef>

#include "transport/AspiRecords.h"
#include "transport/DriveRecords.h"

TEST(Records, ExecuteBlockKeepsThePublishedFieldOffsets)
{
    // Pointer-sized fields move the later offsets in 64-bit builds.
    constexpr size_t p = sizeof(void*);
    EXPECT_EQ(offsetof(CommandStatus, SRB_BufLen), 12u);
    EXPECT_EQ(offsetof(CommandStatus, SRB_BufPointer), 16u);
    EXPECT_EQ(offsetof(CommandStatus, SRB_SenseLen), 16u + p);
    EXPECT_EQ(offsetof(CommandStatus, SRB_TargStat), 19u + p);
    EXPECT_EQ(offsetof(CommandStatus, SRB_PostProc), 20u + p);
    EXPECT_EQ(offsetof(CommandStatus, CDBByte), 40u + 2 * p);
    EXPECT_EQ(offsetof(CommandStatus, SenseArea), 56u + 2 * p);
    EXPECT_EQ(offsetof(SRB_HAInquiry, HA_Unique), 42u);
    EXPECT_EQ(offsetof(SRB_GDEVBlock, SRB_DeviceType), 10u);
}
