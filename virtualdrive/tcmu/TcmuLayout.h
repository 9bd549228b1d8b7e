/* The byte layout of the shared mapping of a user-space SCSI backstore: the
 * mailbox, a command entry's header, request and response. The kernel's own
 * header does not compile as C++, so the offsets are written out here and
 * TcmuLayoutCheck.c checks each against it at build time. Plain C, so that
 * file can include it. */
#ifndef ORV_TCMU_LAYOUT_H
#define ORV_TCMU_LAYOUT_H

enum {
    kMailboxFlags = 2,      /* u16: the kernel's capabilities */
    kMailboxRingOffset = 4, /* u32: where the command ring starts */
    kMailboxRingSize = 8,   /* u32 */
    kMailboxHead = 12,      /* u32: written by the kernel */
    kMailboxTail = 64,      /* u32: written by the handler */
    kMailboxSize = 128,

    kEntryLenOp = 0,     /* u32: entry length, the low three bits the kind */
    kEntryUserFlags = 7, /* u8 */
    kEntryHeaderSize = 8,
    kEntryIovCount = 8,   /* u32 */
    kEntryCdbOffset = 24, /* u64: from the start of the mapping */
    kEntryIov = 48,       /* struct iovec[]: base is an offset into the mapping */
    kEntryIovSize = 16,
    kEntryStatus = 8,      /* u8: SCSI status */
    kEntryReadLength = 12, /* u32 */
    kEntrySense = 16,      /* 96 bytes */
    kEntrySenseSize = 96,
    kEntrySize = 112,

    kOpMask = 7,
    kOpPad = 0,
    kOpCommand = 1,
    kCapReadLength = 2, /* mailbox flag: the kernel reads kEntryReadLength */
    kUserFlagReadLength = 2
};

#endif
