#!/bin/sh
# Inside a machine with a real kernel (tests/vm/run-in-vm.sh): the virtual
# drive as a SCSI CD-ROM, its identity read with sg_inq, a short firmware
# download with sg_write_buffer, and the drive's log of what arrived.
#
#   run-in-vm.sh RESULTS tests/kernel/tcmu-smoke.sh RESULTS
set -u
here=$(cd "$(dirname "$0")" && pwd)
results=${1:?usage: tcmu-smoke.sh RESULTS}
drive=$results/drive
status=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAIL: $2"; status=1; fi; }

nodes=$("$here/lio-cdrom.sh" start cd0 "$here/../../samples/drives/one-drive.txt" "$drive") || exit 1
set -- $nodes
sr=$1 sg=$2
echo "devices: $sr $sg"

sg_inq "$sg" | tee "$results/sg_inq.txt"
check "grep -q 'OPTICAL WRITER' '$results/sg_inq.txt'" "sg_inq shows the drive's identity"
check "grep -q 'cd/dvd' '$results/sg_inq.txt'" "the drive is a CD-ROM"

sg_raw -r 16 "$sg" F5 00 00 00 00 0F 80 48 00 10 00 00 >"$results/pcb.txt" 2>&1
check "grep -q '^ 00     02' '$results/pcb.txt'" "the vendor query answers PCB version 2"

# As the updater sends an image: mode 4 for every chunk but the last, mode 5
# for the last one.
head -c 32768 /dev/urandom >/tmp/fw.bin
sg_write_buffer --mode=4 --id=0 --bpw=8192 --length=24576 --in=/tmp/fw.bin "$sg" &&
    sg_write_buffer --mode=5 --id=0 --offset=24576 --skip=24576 --length=8192 --in=/tmp/fw.bin "$sg"
written=$?
check "[ $written -eq 0 ]" "sg_write_buffer in 8 KiB chunks"
echo 2000 >"/sys/block/${sr#/dev/}/events_poll_msecs"
sleep 5
# Opening and closing the block node: what the kernel sends of its own accord.
echo "--- open/close $sr" >>"$drive/commands.log"
sg_turs "$sr"

"$here/lio-cdrom.sh" stop cd0
check "cmp -s /tmp/fw.bin '$drive/flash.bin'" "the flashed image is the file sent"
check "grep -q '^flashes=1' '$drive/state.txt'" "the state file counts one flash"
check "grep -q ' kernel 4A ' '$drive/commands.log'" "the kernel's media polling reached the drive"
check "grep -q \"^commands=\$(grep -c '^[0-9]' '$drive/commands.log')\$\" '$drive/state.txt'" \
    "a clean stop writes the final command count"
cat "$drive/commands.log"
exit $status
