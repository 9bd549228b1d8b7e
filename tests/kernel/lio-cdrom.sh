#!/bin/sh
# Serves a virtual drive to this machine's kernel as a SCSI CD-ROM: a LIO
# user-space backstore answered by orvtcmu, exported through the loopback
# fabric, so /dev/srN and /dev/sgN appear. Run as root.
#
#   lio-cdrom.sh start NAME DESCRIPTION RESULTS
#       Sets up backstore NAME, starts orvtcmu (drive from DESCRIPTION, what it
#       receives to RESULTS, its own messages to RESULTS/orvtcmu.out) and
#       waits for the kernel's device nodes; prints "/dev/srN /dev/sgN".
#   lio-cdrom.sh stop NAME
#       Removes the loopback target, stops orvtcmu (it writes its final state)
#       and removes the backstore.
#
# ORVTCMU names the handler (default: build/linux/orvtcmu of this tree).
set -eu

CONFIGFS=/sys/kernel/config
CORE=$CONFIGFS/target/core/user_0
LOOP=$CONFIGFS/target/loopback
RUN=/run/lio-cdrom
HERE=$(cd "$(dirname "$0")" && pwd)
ORVTCMU=${ORVTCMU:-$HERE/../../build/linux/orvtcmu}

say() { printf 'lio-cdrom: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
now() { date +%s.%N; }

seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
random_naa() { echo "naa.5001405$(od -An -N5 -tx1 /dev/urandom | tr -d ' \n' | cut -c1-9)"; }

start()
{
    name=$1 description=$2 results=$3
    [ -x "$ORVTCMU" ] || die "no handler at $ORVTCMU (build the orvtcmu target)"
    [ -r "$description" ] || die "cannot read $description"
    mkdir -p "$results" "$RUN"
    [ ! -d "$CORE/$name" ] || stop "$name" # left over from a run that did not stop
    t0=$(now)

    for m in target_core_user tcm_loop sr_mod sg; do
        modprobe "$m" || die "cannot load kernel module $m"
    done
    grep -q " $CONFIGFS configfs" /proc/mounts || mount -t configfs configfs "$CONFIGFS"

    # The backstore; its user-space device appears when it is enabled.
    mkdir -p "$CORE/$name"
    printf 'dev_config=orvtcmu/%s,dev_size=0,hw_block_size=2048' "$name" >"$CORE/$name/control"
    echo 1 >"$CORE/$name/enable"

    "$ORVTCMU" --name "$name" --description "$description" --results "$results" \
        >"$results/orvtcmu.out" 2>&1 &
    echo $! >"$RUN/$name.pid"
    i=0
    until grep -q '^orvtcmu: serving' "$results/orvtcmu.out" 2>/dev/null; do
        kill -0 "$(cat "$RUN/$name.pid")" 2>/dev/null || die "orvtcmu ended: $(cat "$results/orvtcmu.out")"
        i=$((i + 1))
        [ $i -lt 600 ] || die "orvtcmu did not open the backstore"
        sleep 0.05
    done
    t1=$(now)

    # The loopback target: its SCSI host appears with the target, the nexus
    # must exist before the LUN, whose link makes the kernel add the drive.
    wwn=$(random_naa)
    echo "$wwn" >"$RUN/$name.wwn"
    mkdir -p "$LOOP/$wwn/tpgt_1"
    random_naa >"$LOOP/$wwn/tpgt_1/nexus"
    mkdir -p "$LOOP/$wwn/tpgt_1/lun/lun_0"
    ln -s "$CORE/$name" "$LOOP/$wwn/tpgt_1/lun/lun_0/$name"

    # Globs only in the wait: every process started is slow in an emulated machine.
    read -r address <"$LOOP/$wwn/tpgt_1/address" # host:channel:target
    sr= sg= i=0
    while :; do
        for d in /sys/bus/scsi/devices/"$address":*/block/sr* \
                 /sys/bus/scsi/devices/"$address":*/scsi_generic/sg*; do
            case "$d" in
                */block/sr*) [ -e "/dev/${d##*/}" ] && sr=${d##*/} ;;
                */scsi_generic/sg*) [ -e "/dev/${d##*/}" ] && sg=${d##*/} ;;
            esac
        done
        [ -n "$sr" ] && [ -n "$sg" ] && break
        i=$((i + 1))
        [ $i -lt 150 ] || die "no CD-ROM device appeared"
        sleep 0.2
    done
    t2=$(now)
    say "handler serving after $(seconds "$t0" "$t1") s; /dev/$sr and /dev/$sg $(seconds "$t1" "$t2") s later"
    echo "/dev/$sr /dev/$sg"
}

stop()
{
    name=$1
    if [ -f "$RUN/$name.wwn" ]; then
        wwn=$(cat "$RUN/$name.wwn")
        rm -f "$LOOP/$wwn/tpgt_1/lun/lun_0/$name"
        # Removing the target drops its nexus.
        rmdir "$LOOP/$wwn/tpgt_1/lun/lun_0" "$LOOP/$wwn/tpgt_1" "$LOOP/$wwn" 2>/dev/null || true
        rm -f "$RUN/$name.wwn"
    fi
    if [ -f "$RUN/$name.pid" ]; then
        pid=$(cat "$RUN/$name.pid")
        kill -TERM "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do
            i=$((i + 1))
            sleep 0.05
        done
        rm -f "$RUN/$name.pid"
    fi
    [ -d "$CORE/$name" ] && rmdir "$CORE/$name"
    rmdir "$CORE" 2>/dev/null || true
}

case "${1:-}" in
start) [ $# -eq 4 ] || die "usage: lio-cdrom.sh start NAME DESCRIPTION RESULTS"; start "$2" "$3" "$4" ;;
stop) [ $# -eq 2 ] || die "usage: lio-cdrom.sh stop NAME"; stop "$2" ;;
*) die "usage: lio-cdrom.sh start NAME DESCRIPTION RESULTS | stop NAME" ;;
esac
