#!/usr/bin/env bash
# The Windows program on the pass-through path against a drive the kernel
# sees as a real CD-ROM: cases added to those of run_wine_tests.sh, run as
# root on a kernel with LIO (the real-kernel stage, tests/kernel/guest_stage.sh).
#
#   run_kernel_wine_tests.sh WINDOWS_BUILD_DIR [CASE...]     (default: every kernel_ case)
#   run_kernel_wine_tests.sh WINDOWS_BUILD_DIR --prepare
#
# --prepare only makes the Wine prefix ($ORV_E2E_PREFIX), with D: a CD-ROM
# drive and Windows 7 reported; the cases then run in it with
# ORV_E2E_KEEP_PREFIX=1.
#
# The drive the case's VDRIVES.TXT describes is served through LIO
# (tests/kernel/lio-cdrom.sh) as /dev/sr0; Wine's drive D: is that CD-ROM
# (dosdevices d: a folder, d:: the device, HKLM\Software\Wine\Drives d: =
# cdrom), so the program's IOCTL_SCSI_PASS_THROUGH_DIRECT reaches the kernel
# as SG_IO on /dev/sr0. What the drive received lands in FOLDER/log.

# Under emulation Wine's first start in the machine takes tens of seconds:
# the waits are for what a slow machine needs (they end as soon as the window
# is there), and the cases start after Wine has been started once.
ORV_E2E_WAIT_MS=${ORV_E2E_WAIT_MS:-120000}

# shellcheck source=run_wine_tests.sh
source "$(dirname "${BASH_SOURCE[0]}")/run_wine_tests.sh"

LIO_CDROM=$SOURCE_DIR/tests/kernel/lio-cdrom.sh

# serve_kernel_drive FOLDER: the drive of FOLDER/VDRIVES.TXT on D:.
serve_kernel_drive()
{
    local folder=$1 nodes
    if ! nodes=$("$LIO_CDROM" start orvdrive "$folder/VDRIVES.TXT" "$folder/log" \
        2>"$folder/lio.log"); then
        fail "the drive could not be served: $(tail -2 "$folder/lio.log")"
        return 1
    fi
    mkdir -p "$folder/cdrom"
    ln -sfn "$folder/cdrom" "$WINEPREFIX/dosdevices/d:"
    ln -sfn "${nodes%% *}" "$WINEPREFIX/dosdevices/d::"
}

retire_kernel_drive()
{
    "$LIO_CDROM" stop orvdrive 2>>"$1/lio.log"
}

# The drive's commands from its log, as "SENDER BLOCK..." lines.
kernel_drive_commands()
{
    grep '^[0-9]' "$1/log/commands.log" 2>/dev/null | cut -d' ' -f2-
}

case_kernel_full_update()
{
    local folder chunks=64 size=$((64 * 8192 + 3000))
    folder=$(new_folder)
    write_eps_update_package "$folder" "$size"
    model_drive "$folder" 1.00 "eps-version = EPS0100" "eps-new-version = EPS0200"
    serve_kernel_drive "$folder" || return
    set_windows_version win7
    start_program "$folder"
    # Under emulation the window reader starts slower than the transfer runs:
    # the displays are left to the ASPI cases, the outcome is read here.
    expect_idle || { retire_kernel_drive "$folder"; return; }
    press "$MODEL_TITLE" 1
    expect_box "$INFO_TITLE" "$RESTART_QUESTION"
    screenshot kernel_full_update_completed
    press "$INFO_TITLE" 7
    expect_gone "$INFO_TITLE"
    expect_idle disabled
    press "$MODEL_TITLE" 2
    expect_exit
    retire_kernel_drive "$folder"

    if ! cmp -s "$folder/log/flash.bin" <(head -c $((chunks * 8192)) "$folder/FIRM.BIN"); then
        fail "the flashed image differs from the first $((chunks * 8192)) bytes of the image"
    fi
    if ! cmp -s <(tail -c +$((0x3400 + 1)) "$folder/log/eps.bin" 2>/dev/null) \
        <(tail -c +$((0x3400 + 1)) "$folder/EPS.BIN"); then
        fail "the committed EPS data differ from the EPS image"
    fi
    local writes
    writes=$(kernel_drive_commands "$folder" | grep -c '^updater 3B 0[45] 00 ')
    [ "$writes" -eq "$chunks" ] || fail "$writes chunks reached the drive, expected $chunks"
}

case_kernel_flash_error()
{
    local folder
    folder=$(new_folder)
    write_update_package "$folder" 1.00 $((16 * 8192)) "UPDATE WAIT TIME=1"
    model_drive "$folder" 1.00 "fault = write-buffer mode=5 sense=09-86-00"
    serve_kernel_drive "$folder" || return
    set_windows_version win7
    # In the Japanese locale: the failure prefix is Japanese, the drive's text
    # stays English.
    start_program "$folder" LC_ALL=ja_JP.UTF-8
    expect_control "$MODEL_TITLE" 1032 " ドライブを選択し、UPDATEボタンを押して下さい。" \
        || { retire_kernel_drive "$folder"; return; }
    press "$MODEL_TITLE" 1
    expect_box "$ERROR_TITLE" 'ファームウェア更新に失敗しました。\n\nFlash rom check sum error. (Code 09-86-00)'
    screenshot kernel_flash_error
    press "$ERROR_TITLE" 1
    expect_gone "$ERROR_TITLE"
    press "$MODEL_TITLE" 2
    expect_exit
    retire_kernel_drive "$folder"

    if [ -e "$folder/log/flash.bin" ]; then fail "the drive flashed an image"; fi
    # After the failed final chunk the program sends the drive nothing more.
    local after
    after=$(kernel_drive_commands "$folder" \
        | awk '/^updater 3B 05 00 / { on = 1; next } on && $1 == "updater"' | wc -l)
    [ "$after" -eq 0 ] || fail "$after commands of the program followed the failed final chunk"
}

# Before the first case: Wine started once with a window station, so the
# first case's waits measure the program, not Wine's cold start.
before_cases()
{
    local started=$SECONDS
    program_wine "$WINTEXT" list >/dev/null 2>&1
    log "  Wine's first start here: $((SECONDS - started)) s"
}

if [ "${1:-}" = --prepare ]; then
    trap cleanup EXIT
    start_display || exit 2
    make_prefix
    reg_add 'HKLM\Software\Wine\Drives' /v 'd:' /d cdrom
    set_windows_version win7
    prefix_wine reg query 'HKLM\Software\Wine\Drives' /v 'd:' 2>/dev/null | grep -q cdrom \
        || { log "the drive type of D: did not reach the prefix's registry"; exit 2; }
    exit 0
fi
if [ $# -eq 0 ]; then
    set -- $(declare -F | awk '{ print $3 }' | sed -n 's/^case_\(kernel_.*\)/\1/p')
fi
main "$@"
