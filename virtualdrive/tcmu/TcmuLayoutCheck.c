/* Checks the offsets of TcmuLayout.h against the kernel's header. */
#include <linux/target_core_user.h>
#include <stddef.h>

#include "virtualdrive/tcmu/TcmuLayout.h"

_Static_assert(offsetof(struct tcmu_mailbox, flags) == kMailboxFlags, "flags");
_Static_assert(offsetof(struct tcmu_mailbox, cmdr_off) == kMailboxRingOffset, "cmdr_off");
_Static_assert(offsetof(struct tcmu_mailbox, cmdr_size) == kMailboxRingSize, "cmdr_size");
_Static_assert(offsetof(struct tcmu_mailbox, cmd_head) == kMailboxHead, "cmd_head");
_Static_assert(offsetof(struct tcmu_mailbox, cmd_tail) == kMailboxTail, "cmd_tail");
_Static_assert(sizeof(struct tcmu_mailbox) == kMailboxSize, "mailbox");
_Static_assert(offsetof(struct tcmu_cmd_entry, hdr.len_op) == kEntryLenOp, "len_op");
_Static_assert(offsetof(struct tcmu_cmd_entry, hdr.uflags) == kEntryUserFlags, "uflags");
_Static_assert(sizeof(struct tcmu_cmd_entry_hdr) == kEntryHeaderSize, "header");
_Static_assert(offsetof(struct tcmu_cmd_entry, req.iov_cnt) == kEntryIovCount, "iov_cnt");
_Static_assert(offsetof(struct tcmu_cmd_entry, req.cdb_off) == kEntryCdbOffset, "cdb_off");
_Static_assert(offsetof(struct tcmu_cmd_entry, req.iov) == kEntryIov, "iov");
_Static_assert(sizeof(struct iovec) == kEntryIovSize, "iovec");
_Static_assert(offsetof(struct tcmu_cmd_entry, rsp.scsi_status) == kEntryStatus, "status");
_Static_assert(offsetof(struct tcmu_cmd_entry, rsp.read_len) == kEntryReadLength, "read_len");
_Static_assert(offsetof(struct tcmu_cmd_entry, rsp.sense_buffer) == kEntrySense, "sense");
_Static_assert(TCMU_SENSE_BUFFERSIZE == kEntrySenseSize, "sense size");
_Static_assert(sizeof(struct tcmu_cmd_entry) == kEntrySize, "entry");
_Static_assert(TCMU_OP_MASK == kOpMask && (int)TCMU_OP_PAD == kOpPad && (int)TCMU_OP_CMD == kOpCommand,
               "kinds");
_Static_assert(TCMU_MAILBOX_FLAG_CAP_READ_LEN == kCapReadLength, "read length capability");
_Static_assert(TCMU_UFLAG_READ_LEN == kUserFlagReadLength, "read length flag");
