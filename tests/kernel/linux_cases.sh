#!/usr/bin/env bash
# The Linux program against the virtual drive the kernel sees as a real CD-ROM
# (run as root on a kernel with LIO, e.g. inside tests/vm/run-in-vm.sh):
#
#   linux_cases.sh RESULTS LINUX_BUILD [CASE...]
#
# Each case serves a drive description through LIO (tests/kernel/lio-cdrom.sh),
# switches the kernel's media polling on as desktop services do, runs the
# program on the sample package and checks what reached the drive, from the
# drive's own log. Cases: full_update, flash_error, and transfer_timing (the
# program, sg_write_buffer and a bare SG_IO loop moving the same image; its
# figures go to RESULTS/timing.txt).
set -u
SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
RESULTS=$(cd "${1:?usage: linux_cases.sh RESULTS LINUX_BUILD [CASE...]}" && pwd)
LINUX_BUILD=$(cd "${2:?usage: linux_cases.sh RESULTS LINUX_BUILD [CASE...]}" && pwd)
shift 2
PROGRAM=${ORV_LINUX_PROGRAM:-$LINUX_BUILD/orvupdate}
LIO=$SOURCE_DIR/tests/kernel/lio-cdrom.sh
DRIVES=$SOURCE_DIR/tests/kernel/drives
SAMPLE=$SOURCE_DIR/samples/demo-good
CASE_FAILED=0
CASE_NAME=
FOLDER=

log() { printf '%s\n' "$*" >&2; }
fail()
{
    log "  FAIL [$CASE_NAME]: $*"
    CASE_FAILED=1
}

# serve_drive DESCRIPTION: the drive on /dev/sr0, its log in $FOLDER/log,
# the kernel's media polling at two seconds.
serve_drive()
{
    "$LIO" start orvdrive "$1" "$FOLDER/log" >"$FOLDER/lio.log" 2>&1 || {
        fail "the drive could not be served: $(tail -3 "$FOLDER/lio.log")"
        return 1
    }
    echo 2000 >/sys/block/sr0/events_poll_msecs || fail "media polling cannot be switched on"
}

retire_drive()
{
    "$LIO" stop orvdrive >>"$FOLDER/lio.log" 2>&1
}

# A package folder: the sample package, its settle wait at WAIT seconds.
package_folder()
{
    mkdir -p "$FOLDER/package"
    cp -r "$SAMPLE/." "$FOLDER/package/"
    rm -f "$FOLDER/package/VDRIVES.TXT"
    sed -i "s/^UPDATE WAIT TIME=.*/UPDATE WAIT TIME=$1/" "$FOLDER/package/UPDATE.INI"
}

# The kernel's monotonic clock in microseconds (the drive log's clock),
# to 10 ms.
monotonic_us()
{
    local up
    read -r up _ </proc/uptime
    echo $((${up/./} * 10000))
}

# run_program: an unattended update of sr0; output in $FOLDER/program.*, the
# time it ended in $FOLDER/program.end.
run_program()
{
    local status=0
    "$PROGRAM" --yes --drive sr0 --json "$FOLDER/package" >"$FOLDER/program.json" \
        2>"$FOLDER/program.err" || status=$?
    monotonic_us >"$FOLDER/program.end"
    cat /sys/block/sr0/events_poll_msecs >"$FOLDER/polling.after" 2>/dev/null
    echo "$status" >"$FOLDER/program.status"
    return "$status"
}

commands() { grep -v '^#' "$FOLDER/log/commands.log" 2>/dev/null; }

# From the first WRITE BUFFER to the program's last command, the drive
# receives the program's commands only: none of the kernel's own, and the
# firmware chunks (WRITE BUFFER mode 4 and 5, buffer 0) one right after the
# other.
expect_only_program_commands()
{
    local end foreign between
    end=$(commands | awk '$2 == "updater" { last = $1 } END { print last + 0 }')
    foreign=$(commands | awk -v end="$end" '$3 == "3B" { on = 1 } on && $1 <= end && $2 == "kernel" { print $3 }' \
        | sort | uniq -c | tr -s ' \n' ' ')
    [ -z "$foreign" ] || fail "the kernel's own commands reached the drive during the update: $foreign"
    between=$(commands | awk '$3 == "3B" && ($4 == "04" || $4 == "05") && $5 == "00" { if (other) bad++; on = 1; next }
                              on { other = 1 } END { print bad + 0 }')
    [ "$between" -eq 0 ] || fail "$between firmware chunks came after another command"
    # The polling the check above relies on was on, and the program gave it back.
    [ "$(cat "$FOLDER/polling.after")" = 2000 ] \
        || fail "media polling after the program: $(cat "$FOLDER/polling.after"), expected 2000"
}

case_full_update()
{
    serve_drive "$DRIVES/good.txt" || return
    package_folder 2
    run_program || fail "the update ended with status $(cat "$FOLDER/program.status"): $(cat "$FOLDER/program.err")"
    retire_drive
    local image size
    image="$FOLDER/package/DEMO0104.BIN"
    size=$(grep -a '^FIRMWAREFILESIZE=' "$FOLDER/package/UPDATE.INI" | tr -dc 0-9)
    if ! cmp -s "$FOLDER/log/flash.bin" <(head -c "$size" "$image"); then
        fail "the flashed image differs from the package's image"
    fi
    if ! cmp -s <(tail -c +$((0x3400 + 1)) "$FOLDER/log/eps.bin" 2>/dev/null) \
        <(tail -c +$((0x3400 + 1)) "$FOLDER/package/DEMOEPS.BIN"); then
        fail "the committed EPS data differ from the EPS image"
    fi
    expect_only_program_commands
}

case_flash_error()
{
    serve_drive "$DRIVES/flash-error.txt" || return
    package_folder 2
    local status=0
    run_program || status=$?
    retire_drive
    [ "$status" -eq 1 ] || fail "the failed update ended with status $status, expected 1"
    grep -q 'Flash rom check sum error. (Code 09-86-00)' "$FOLDER/program.err" "$FOLDER/program.json" \
        || fail "the flash error's text was not shown: $(tail -3 "$FOLDER/program.err")"
    local after
    after=$(commands | awk -v end="$(cat "$FOLDER/program.end")" \
        '$3 == "3B" && $4 == "05" { on = 1; next } on && $1 <= end && $2 != "kernel"' | wc -l)
    [ "$after" -eq 0 ] || fail "$after commands reached the drive after the failed final chunk"
    expect_only_program_commands
}

# The span of the firmware chunks in the drive's log lines on stdin, as the
# drive stamped them: "CHUNKS MICROSECONDS".
chunk_span()
{
    awk '$3 == "3B" && ($4 == "04" || $4 == "05") && $5 == "00" {
             if (!n) first = $1
             last = $1; n++
         }
         END { printf "%d %d\n", n, last - first }'
}

# The same 512 KiB image in 8 KiB chunks to the same drive three ways, in
# ORV_TIMING_ROUNDS interleaved rounds: the program (its waits at 0),
# sg_write_buffer and the bare SG_IO loop. RESULTS/timing.txt gets one line
# per transfer ("WAY ROUND CHUNKS MICROSECONDS") and the medians.
case_transfer_timing()
{
    local image=$FOLDER/image.bin rounds=${ORV_TIMING_ROUNDS:-5} round way before n span
    head -c $((512 * 1024)) "$SAMPLE/DEMO0104.BIN" >"$image"
    package_folder 0
    serve_drive "$DRIVES/good.txt" || return
    : >"$RESULTS/timing.txt"
    for round in $(seq "$rounds"); do
        for way in program sg_write_buffer loop; do
            before=$(wc -l <"$FOLDER/log/commands.log")
            case $way in
            program) run_program >/dev/null || fail "the program's update failed" ;;
            sg_write_buffer)
                sg_write_buffer --bpw=8192 --mode=4 --in="$image" /dev/sg0 || fail "sg_write_buffer failed"
                ;;
            loop) "$LINUX_BUILD/sg_write_loop" /dev/sg0 "$image" 8192 || fail "the SG_IO loop failed" ;;
            esac
            read -r n span < <(tail -n +$((before + 1)) "$FOLDER/log/commands.log" | chunk_span)
            [ "$n" -eq 64 ] || fail "$way sent $n chunks, expected 64"
            printf '%s\t%d\t%d\t%d\n' "$way" "$round" "$n" "$span" >>"$RESULTS/timing.txt"
        done
    done
    retire_drive
    for way in program sg_write_buffer loop; do
        awk -v way="$way" '$1 == way { print $4 }' "$RESULTS/timing.txt" | sort -n \
            | awk -v way="$way" '{ v[NR] = $1 } END {
                  m = v[int((NR + 1) / 2)]
                  printf "median\t%s\t%d us\t%d us per chunk\n", way, m, m / 63 }' \
            | tee -a "$RESULTS/timing.txt"
    done
}

main()
{
    local cases=("$@") passed=0 failed=0 name
    [ ${#cases[@]} -gt 0 ] || cases=(full_update flash_error transfer_timing)
    for name in "${cases[@]}"; do
        CASE_NAME=$name
        CASE_FAILED=0
        FOLDER=$RESULTS/$name
        rm -rf "$FOLDER"
        mkdir -p "$FOLDER"
        log "case $name"
        "case_$name"
        if [ "$CASE_FAILED" -eq 0 ]; then
            passed=$((passed + 1))
            log "  ok"
        else
            failed=$((failed + 1))
        fi
    done
    echo "linux: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

main "$@"
