#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine: UPDATE.EXE runs in a
# scratch folder beside a package, and its dialogs and message boxes are read
# from outside with wintext.exe, as a user would see them.
#
#   run_wine_tests.sh WINDOWS_BUILD_DIR [CASE...]
#
# CASE names a function below without its "case_" prefix; without any, every
# case runs. The same cases run against an x86_64 and an i686 build: the
# build's programs run under the Wine of their bitness (see PROGRAM_WINE).
# Screenshots go to $ORV_ARTIFACTS (default: artifacts/e2e/BUILD-DIR-NAME in
# the source tree). Exit status 0 only when every case passed.
#
# A case is a function named case_NAME: it makes a folder with new_folder,
# writes a package into it, starts the program with start_program and checks
# what appears with the expect_* helpers; a failed check calls fail.
set -u

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=$(cd "${1:?usage: run_wine_tests.sh WINDOWS_BUILD_DIR [CASE...]}" && pwd)
shift
ARTIFACTS=${ORV_ARTIFACTS:-$SOURCE_DIR/artifacts/e2e/$(basename "$BUILD_DIR")}
PROGRAM=$BUILD_DIR/UPDATE.EXE
WINTEXT=$BUILD_DIR/wintext.exe
CLASSLIB_CHECK=$BUILD_DIR/classlib_check.exe
ASPI_PROBE=$BUILD_DIR/aspi_probe.exe
ASPI_DLL=$BUILD_DIR/WNASPI32.DLL
RUNS=${ORV_E2E_RUNS:-$BUILD_DIR/e2e-runs}
WAIT_MS=${ORV_E2E_WAIT_MS:-20000}

export WINEPREFIX=${ORV_E2E_PREFIX:-$BUILD_DIR/wine-e2e}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=${LC_ALL:-C.UTF-8}

XVFB_PID=
PROGRAM_PID=
WINDOWS_VERSION=
CASE_FAILED=0
CASE_NAME=
OUTPUT=

log() { printf '%s\n' "$*" >&2; }

fail()
{
    log "  FAIL [$CASE_NAME]: $*"
    CASE_FAILED=1
}

# ---- machinery --------------------------------------------------------------

# pe_machine FILE: the machine a Windows executable is built for (i386 or
# x86_64), from its PE header.
pe_machine()
{
    local header machine
    header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$header" ] || return 1
    machine=$(od -An -tx2 -j$((header + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case "$machine" in
    014c) echo i386 ;;
    8664) echo x86_64 ;;
    *) return 1 ;;
    esac
}

# first_program CANDIDATE...: the first candidate that can be run.
first_program()
{
    local candidate
    for candidate in "$@"; do
        if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
        if command -v "$candidate" >/dev/null 2>&1; then command -v "$candidate"; return 0; fi
    done
    return 1
}

# Two Wines take part. The prefix's own Wine (64-bit) makes and configures
# the prefix: its reg.exe writes the 64-bit registry view that Wine's services
# read. The build's Wine runs the build's programs (UPDATE.EXE, wintext.exe,
# classlib_check.exe): the 32-bit loader for an i686 build, which runs in the
# 64-bit prefix as its WoW64 half, the 64-bit one for an x86_64 build. A
# window reader must be of the program's bitness to read its progress bar.
# ORV_WINE overrides the build's Wine, ORV_PREFIX_WINE the prefix's.
BUILD_MACHINE=$(pe_machine "$PROGRAM" || echo x86_64)
PREFIX_WINE=${ORV_PREFIX_WINE:-$(first_program /usr/lib/wine/wine64 wine64 wine)}
if [ "$BUILD_MACHINE" = i386 ]; then
    PROGRAM_WINE=${ORV_WINE:-$(first_program /usr/lib/wine/wine wine)}
else
    PROGRAM_WINE=${ORV_WINE:-$(first_program /usr/lib/wine/wine64 wine64 wine)}
fi
WINESERVER=$(first_program /usr/lib/wine/wineserver64 wineserver)

# prefix_wine ARGS...: a tool of the prefix itself (wineboot, reg, cmd ...).
prefix_wine()
{
    "$PREFIX_WINE" "$@"
}

# program_wine ARGS...: a program of the build under test.
program_wine()
{
    "$PROGRAM_WINE" "$@"
}

# reg_add KEY VALUE-ARGS...: a registry value in the prefix's 64-bit view.
reg_add()
{
    prefix_wine reg add "$@" /f >/dev/null 2>&1
}

wineserver_cmd()
{
    "$WINESERVER" "$@"
}

start_display()
{
    if [ -n "${DISPLAY:-}" ]; then return 0; fi
    local number
    for number in $(seq 90 140); do
        if [ ! -e "/tmp/.X11-unix/X$number" ] && [ ! -e "/tmp/.X$number-lock" ]; then
            Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            XVFB_PID=$!
            export DISPLAY=":$number"
            local tries
            for tries in $(seq 50); do
                [ -e "/tmp/.X11-unix/X$number" ] && return 0
                sleep 0.1
            done
            log "Xvfb did not start on :$number"
            return 1
        fi
    done
    log "no free X display number"
    return 1
}

# A fresh Wine prefix whose windows live on one virtual desktop: no window
# manager is needed and hidden windows cost no waiting.
# ORV_E2E_KEEP_PREFIX=1 keeps a prefix made before (the real-kernel stage
# makes it on the host, where Wine starts fast, and uses it in the machine).
make_prefix()
{
    if [ "${ORV_E2E_KEEP_PREFIX:-0}" = 1 ] && [ -f "$WINEPREFIX/system.reg" ]; then return 0; fi
    rm -rf "$WINEPREFIX"
    WINEARCH=win64 prefix_wine wineboot -i >/dev/null 2>&1
    reg_add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
    reg_add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
    use_japanese_fonts
    wineserver_cmd -w
}

# Japanese texts on the screen: the dialog faces fall back to the IPA Gothic
# fonts for the characters they lack, and the program's Japanese faces are
# replaced by them (without them the screenshots show empty boxes).
use_japanese_fonts()
{
    local face
    [ -n "$(fc-list :lang=ja file 2>/dev/null | grep -i ipag)" ] || return 0
    for face in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" Arial; do
        reg_add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
            /v "$face" /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic'
    done
    for face in 'MS UI Gothic' 'MS PGothic' 'ＭＳ Ｐゴシック'; do
        reg_add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAPGothic
    done
    for face in 'MS Gothic' 'ＭＳ ゴシック'; do
        reg_add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d IPAGothic
    done
}

# The Windows family Wine reports: win98 (9x family), winxp, win2k, win10 ...
set_windows_version()
{
    WINDOWS_VERSION=$1
    reg_add 'HKCU\Software\Wine' /v Version /d "$1"
    wineserver_cmd -w
}

cleanup()
{
    stop_program
    wineserver_cmd -k >/dev/null 2>&1
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; fi
}

# ---- helpers for the cases --------------------------------------------------

# A new empty folder for one run of the program; its path is printed.
new_folder()
{
    mkdir -p "$RUNS"
    mktemp -d "$RUNS/${CASE_NAME}.XXXXXX"
}

# use_virtual_drive FOLDER: puts the virtual drive, built as WNASPI32.DLL,
# beside the program. Without it the program finds Wine's own ASPI library,
# which reports no adapters.
use_virtual_drive()
{
    if [ ! -f "$ASPI_DLL" ]; then
        fail "the virtual drive library $ASPI_DLL is not built"
        return 1
    fi
    cp "$ASPI_DLL" "$1/WNASPI32.DLL"
}

# start_program FOLDER [VAR=VALUE...]: copies the program into FOLDER and
# starts it there with the given environment (LC_ALL=ja_JP.UTF-8 gives the
# Japanese locale).
start_program()
{
    local folder=$1
    shift
    cp "$PROGRAM" "$folder/UPDATE.EXE"
    (cd "$folder" && exec env "$@" "$PROGRAM_WINE" UPDATE.EXE \
        >"$folder/program.log" 2>&1) &
    PROGRAM_PID=$!
}

stop_program()
{
    if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill "$PROGRAM_PID" 2>/dev/null
        wait "$PROGRAM_PID" 2>/dev/null
    fi
    PROGRAM_PID=
}

# wintext ARGS...: runs the window reader; its output lands in $OUTPUT.
wintext()
{
    OUTPUT=$(program_wine "$WINTEXT" "$@" 2>/dev/null)
}

# After a window that did not appear: what is on the screen, and the end of
# the output of the case's newest program.
report_screen()
{
    local newest
    wintext list
    log "  dialogs on screen:"$'\n'"$OUTPUT"
    newest=$(ls -td "$RUNS/$CASE_NAME".*/ 2>/dev/null | head -1)
    log "  the program's output:"$'\n'"$(tail -5 "${newest}program.log" 2>/dev/null)"
}

# expect_box CAPTION TEXT: a message box titled CAPTION appears and says TEXT.
expect_box()
{
    local caption=$1 text=$2
    if ! wintext wait "$caption" "$WAIT_MS"; then
        fail "no message box titled \"$caption\" appeared"
        report_screen
        return 1
    fi
    local shown
    shown=$(printf '%s\n' "$OUTPUT" | awk -F'\t' '$1 == "control" && $2 == "65535" { print $6 }')
    if [ "$shown" != "$text" ]; then
        fail "box \"$caption\" says \"$shown\", expected \"$text\""
        return 1
    fi
    log "  box \"$caption\": \"$shown\""
}

# expect_control CAPTION ID TEXT: the dialog titled CAPTION shows TEXT in
# control ID (texts escaped as wintext writes them).
expect_control()
{
    local caption=$1 id=$2 text=$3
    if ! wintext wait "$caption" "$WAIT_MS"; then
        fail "no dialog titled \"$caption\" appeared"
        report_screen
        return 1
    fi
    local shown
    shown=$(printf '%s\n' "$OUTPUT" | awk -F'\t' -v id="$id" '$1 == "control" && $2 == id { print $6 }')
    if [ "$shown" != "$text" ]; then
        fail "control $id of \"$caption\" shows \"$shown\", expected \"$text\""
        return 1
    fi
}

# press CAPTION ID: presses button ID of the dialog titled CAPTION.
press()
{
    if ! wintext press "$1" "$2"; then
        fail "could not press button $2 of \"$1\""
        return 1
    fi
}

# expect_gone CAPTION: the dialog titled CAPTION closes.
expect_gone()
{
    if ! wintext gone "$1" "$WAIT_MS"; then
        fail "\"$1\" is still open"
        return 1
    fi
}

# expect_exit: the program ends by itself within the wait.
expect_exit()
{
    local waited=0
    while kill -0 "$PROGRAM_PID" 2>/dev/null; do
        if [ "$waited" -ge $((WAIT_MS / 100)) ]; then
            fail "the program did not end"
            stop_program
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    wait "$PROGRAM_PID" 2>/dev/null
    PROGRAM_PID=
}

# screenshot NAME: the whole virtual screen as $ARTIFACTS/NAME.png.
screenshot()
{
    mkdir -p "$ARTIFACTS"
    sleep 0.3
    if ! import -window root -display "$DISPLAY" "$ARTIFACTS/$1.png" 2>/dev/null; then
        log "  (screenshot $1 failed)"
    fi
}

# write_package FOLDER [LINE...]: the package description file UPDATE.INI.
write_package()
{
    local folder=$1
    shift
    printf '%s\r\n' "$@" >"$folder/UPDATE.INI"
}


# ---- the virtual drive, the update and the restart -------------------------

# The Windows form of a path of this machine (Wine's drive Z: is the root).
windows_path()
{
    printf 'Z:%s' "${1//\//\\}"
}

# write_drives FOLDER LINE...: the virtual drives the library beside the
# program reports (VDRIVES.TXT).
write_drives()
{
    local folder=$1
    shift
    printf '%s\n' "$@" >"$folder/VDRIVES.TXT"
}

# start_on_virtual_drives FOLDER [VAR=VALUE...]: starts the program with the
# virtual drive library beside it; what the drives receive is logged in
# FOLDER/log (commands.log, flash-A-T.bin, state-A-T.txt).
start_on_virtual_drives()
{
    local folder=$1
    shift
    use_virtual_drive "$folder" || return 1
    start_program "$folder" "WINEDLLOVERRIDES=$WINEDLLOVERRIDES;wnaspi32=n" \
        "ORV_VIRTUAL_LOG=$(windows_path "$folder/log")" "$@"
}

# The drive commands the virtual drives received, one line each.
drive_commands()
{
    cat "$1/log/commands.log" 2>/dev/null
}

# count_writes FOLDER: how many WRITE BUFFER commands reached a drive.
count_writes()
{
    drive_commands "$1" | grep -c '^[0-9]*:[0-9]* 3B '
}

# write_update_package FOLDER VERSION SIZE [OPTION...]: a package for the
# drive model "ORVENTA CD-R    MODEL123" with firmware VERSION; its image
# FIRM.BIN holds SIZE bytes of varied content, sent in 8192-byte chunks.
write_update_package()
{
    local folder=$1 version=$2 size=$3
    shift 3
    write_package "$folder" \
        "[UPGRADEINFORMATION]" \
        "APPLICATIONTITLE=$MODEL_TITLE" \
        "INQUIRY=ORVENTA CD-R    MODEL123;" \
        "VERSION=$version" \
        "FIRMWAREFILENAME=FIRM.BIN" \
        "FIRMWAREFILESIZE=$size" \
        "BUFFERSIZE=8192" \
        "[OPTION]" \
        "USE BINARY INFORMATION=NO" \
        "$@"
    head -c "$size" /dev/urandom >"$folder/FIRM.BIN"
}

# write_eps_update_package FOLDER SIZE: the package of write_update_package
# for firmware 1.00 with a settle wait of 2 s, and an EPS image EPS.BIN
# (65536 bytes, version EPS0200).
write_eps_update_package()
{
    write_update_package "$1" 1.00 "$2" "UPDATE WAIT TIME=2"
    sed -i 's/^\[OPTION\]/EPS FIRMWAREFILENAME=EPS.BIN\r\nEPS VERSION=EPS0200\r\n[OPTION]/' \
        "$1/UPDATE.INI"
    head -c 65536 /dev/urandom >"$1/EPS.BIN"
}

# One drive of the package's model at ASPI address 0:1 with firmware
# revision REVISION; further description lines follow it.
model_drive()
{
    local folder=$1 revision=$2
    shift 2
    write_drives "$folder" \
        "[drive]" \
        "address = 0:1" \
        "vendor = ORVENTA" \
        "product = \"CD-R    MODEL123\"" \
        "revision = $revision" \
        "$@"
}

MODEL_TITLE="MODEL123 Firmware Update"
SELECT_TEXT=" Please Select Drive and Click UPDATE Button."
INFO_TITLE="Information - Upgrade Program"
ERROR_TITLE="Error - Upgrade Program"
RESTART_QUESTION='Firmware update is completed.\n\nDo you want to restart your computer now?'

# expect_idle [UPDATE-STATE]: the main window is idle: its status line asks
# for a drive, EXIT is enabled and UPDATE is enabled (or UPDATE-STATE).
expect_idle()
{
    local update=${1:-enabled}
    expect_control "$MODEL_TITLE" 1032 "$SELECT_TEXT" || return 1
    local states
    states=$(printf '%s\n' "$OUTPUT" | awk -F'\t' '$1 == "control" && ($2 == "1" || $2 == "2") { print $2 "=" $5 }' | sort | tr '\n' ' ')
    if [ "$states" != "1=$update 2=enabled " ]; then
        fail "buttons after the update: $states"
        return 1
    fi
}

# The user's temporary folder of the Wine prefix, where the restart copy
# goes: the folder TEMP names for Windows programs, as a path of this machine.
wine_temp_folder()
{
    local folder
    folder=$(prefix_wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r')
    folder=$(prefix_wine winepath -u "$folder" 2>/dev/null)
    [ -n "$folder" ] && [ -d "$folder" ] && printf '%s\n' "${folder%/}"
}

WININIT=$WINEPREFIX/drive_c/windows/WININIT.INI

# Leaves no restart copy and no WININIT.INI from an earlier case.
clear_restart_traces()
{
    local temp
    temp=$(wine_temp_folder) && rm -f "$temp"/REB_*.EXE
    rm -f "$WINEPREFIX"/drive_c/windows/[Ww][Ii][Nn][Ii][Nn][Ii][Tt].*
}

restart_copies()
{
    local temp
    # An unknown folder must not pass for an empty one.
    temp=$(wine_temp_folder) || { echo "(temporary folder not found)"; return 0; }
    (cd "$temp" && ls REB_*.EXE 2>/dev/null)
}

# Wine carries out ExitWindowsEx by running wineboot with --end-session
# (without --shutdown for a restart); the process channel shows that start.
restart_requested()
{
    grep -q 'wineboot.exe.*--end-session' "$1/program.log" 2>/dev/null
}

# wait_for_restart FOLDER SECONDS: waits until the restart has been requested.
wait_for_restart()
{
    local folder=$1 tenths=$(($2 * 10)) waited=0
    while ! restart_requested "$folder"; do
        if [ "$waited" -ge "$tenths" ]; then
            fail "no restart was requested within $2 s"
            return 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
}

# No "Can't reboot." or other error box is on the screen.
expect_no_error_box()
{
    wintext list
    if printf '%s\n' "$OUTPUT" | grep -q "^dialog	$ERROR_TITLE"; then
        fail "an error box is shown: $(printf '%s\n' "$OUTPUT" | awk -F'\t' '$2 == "65535" { print $6 }')"
        return 1
    fi
}

# run_update FOLDER [SHOTS]: presses UPDATE in the idle main window, follows
# the status line and progress bar into FOLDER/watch.log until a message box
# appears, and with SHOTS takes screenshots SHOTS_transfer and SHOTS_flash of
# the two displays. Answers 1 when a step failed (also when run in the
# background, where its own failure reports are lost).
run_update()
{
    local folder=$1 shots=${2:-} status=0
    expect_control "$MODEL_TITLE" 1032 "$SELECT_TEXT" || return 1
    press "$MODEL_TITLE" 1 || return 1
    program_wine "$WINTEXT" watch "$MODEL_TITLE" 60000 "~ - Upgrade Program" \
        >"$folder/watch.log" 2>/dev/null &
    local watcher=$!
    if [ -n "$shots" ]; then
        if wait_for_line "$folder/watch.log" 'Transferring data'; then
            screenshot "${shots}_transfer"
        else
            status=1
        fi
        if wait_for_line "$folder/watch.log" 'Running Firmware'; then
            screenshot "${shots}_flash"
        else
            status=1
        fi
    fi
    wait "$watcher" || status=1
    return "$status"
}

# wait_for_line FILE PATTERN: waits (up to the usual wait) for a line.
wait_for_line()
{
    local waited=0
    until grep -q "$2" "$1" 2>/dev/null; do
        if [ "$waited" -ge $((WAIT_MS / 100)) ]; then
            fail "\"$2\" never appeared in $(basename "$1")"
            return 1
        fi
        sleep 0.05
        waited=$((waited + 1))
    done
}

# Status texts the watch saw, in order.
status_texts()
{
    awk -F'\t' '$2 == "text" && $3 == "1032" { print $4 }' "$1/watch.log"
}

# ---- cases ------------------------------------------------------------------

# The Win32 services and class library on Wine's API: fonts, brushes,
# controls, modal dialogs with colour requests, threads, waits and files.
case_class_library()
{
    local folder output
    folder=$(new_folder)
    cp "$CLASSLIB_CHECK" "$folder/classlib_check.exe"
    if ! output=$(cd "$folder" && timeout 120 "$PROGRAM_WINE" \
        classlib_check.exe 2>/dev/null); then
        fail "class library checks failed:"$'\n'"$output"
        return 1
    fi
    log "  $(printf '%s\n' "$output" | tail -1)"
}

# A folder without any package description file.
case_no_package()
{
    local folder
    folder=$(new_folder)
    start_program "$folder"
    expect_box "Error - Upgrade Program" "INI file not found. (Code 1)" || return
    screenshot no_package
    press "Error - Upgrade Program" 1
    expect_exit
}

# A package whose firmware image file is not there.
case_missing_image()
{
    local folder
    folder=$(new_folder)
    write_package "$folder" \
        "[UPGRADEINFORMATION]" \
        "INQUIRY=ORVENTA CD-R    MODEL123;" \
        "VERSION=1.00" \
        "FIRMWAREFILENAME=MISSING.BIN" \
        "FIRMWAREFILESIZE=1048576" \
        "[OPTION]"
    start_program "$folder"
    expect_box "Error - Upgrade Program" "Firmware file not found. (Code 10)" || return
    screenshot missing_image
    press "Error - Upgrade Program" 1
    expect_exit
}

# A sound package with a firmware image (identity taken from the file); the
# image holds SIZE bytes of a repeating pattern.
write_sound_package()
{
    local folder=$1 size=${2:-65536}
    write_package "$folder" \
        "[UPGRADEINFORMATION]" \
        "APPLICATIONTITLE=MODEL123 Firmware Update" \
        "INQUIRY=ORVENTA CD-R    MODEL123;" \
        "VERSION=1.00" \
        "FIRMWAREFILENAME=FIRM.BIN" \
        "FIRMWAREFILESIZE=$size" \
        "[OPTION]" \
        "USE BINARY INFORMATION=NO"
    head -c "$size" /dev/zero | tr '\0' '\132' >"$folder/FIRM.BIN"
}

# The same missing package, with the Japanese locale: the text follows the
# locale, the title stays English.
case_no_package_japanese()
{
    local folder
    folder=$(new_folder)
    start_program "$folder" LC_ALL=ja_JP.UTF-8
    expect_box "Error - Upgrade Program" "INIファイルが見つかりません。(Code 1)" || return
    screenshot no_package_japanese
    press "Error - Upgrade Program" 1
    expect_exit
}

# An NT-family system reaches drives by pass-through on drive letters; the
# Wine prefix has no optical drive, so nothing matches the package.
case_no_drive_pass_through()
{
    local folder
    folder=$(new_folder)
    write_sound_package "$folder"
    start_program "$folder"
    expect_box "Error - Upgrade Program" "No drive found." || return
    screenshot no_drive_pass_through
    press "Error - Upgrade Program" 1
    expect_exit
}

# A 9x-family system goes through ASPI; Wine's own ASPI library reports no
# adapters.
case_aspi_without_adapters_win98()
{
    local folder
    folder=$(new_folder)
    write_sound_package "$folder"
    set_windows_version win98
    start_program "$folder"
    expect_box "Error - Upgrade Program" "ASPI32 not found."
    screenshot aspi_without_adapters_win98
    press "Error - Upgrade Program" 1
    expect_exit
    set_windows_version win10
}

# The notice page of a CD-R package: its texts come from the package identity;
# Cancel ends the program without a message.
case_notice_cancel()
{
    local folder caption="MODEL123 Firmware 1.00 - Welcome"
    folder=$(new_folder)
    write_sound_package "$folder"
    printf '%s\r\n' "USE CDR CAUTION=YES" >>"$folder/UPDATE.INI"
    start_program "$folder"
    expect_control "$caption" 1008 "CD-R    MODEL123  Firmware" || return
    expect_control "$caption" 1009 "Version 1.00"
    expect_control "$caption" 1011 ""
    expect_control "$caption" 1013 "Firmware update program"
    screenshot notice
    press "$caption" 2
    expect_exit
}

# Accepting the notice goes on to the drive search.
case_notice_accept()
{
    local folder caption="MODEL123 Firmware 1.00 - Welcome"
    folder=$(new_folder)
    write_sound_package "$folder"
    printf '%s\r\n' "USE CDROM CAUTION=YES" >>"$folder/UPDATE.INI"
    start_program "$folder"
    expect_control "$caption" 1008 "CD-R    MODEL123  Firmware" || return
    press "$caption" 1
    expect_gone "$caption"
    expect_box "Error - Upgrade Program" "No drive found." || return
    press "Error - Upgrade Program" 1
    expect_exit
}


# ---- the update on virtual drives (9x family, ASPI) --------------------------

# The notice, then the main window listing the drives of the package's model
# in discovery order; another maker's drive is left out. EXIT ends the
# program: nothing is written and nothing restarts.
case_main_window_win98()
{
    local folder notice="MODEL123 Firmware 1.00 - Welcome"
    folder=$(new_folder)
    write_update_package "$folder" 1.00 65536 "USE CDR CAUTION=YES"
    write_drives "$folder" \
        "[drive]" "address = 0:1" "vendor = ORVENTA" "product = \"CD-R    MODEL123\"" \
        "revision = 1.00" \
        "[drive]" "address = 0:4" "vendor = OTHERCO" "product = DVD-ROM 16X" "revision = 2.10" \
        "[drive]" "address = 1:3" "vendor = ORVENTA" "product = \"CD-R    MODEL123\"" \
        "revision = 0.99"
    clear_restart_traces
    set_windows_version win98
    start_on_virtual_drives "$folder" WINEDEBUG=+process
    expect_control "$notice" 1011 "WNASPI32.DLL is necessary for this program." || return
    screenshot main_window_notice
    press "$notice" 1
    expect_gone "$notice"

    expect_control "$MODEL_TITLE" 1032 "$SELECT_TEXT" || return
    local items
    items=$(printf '%s\n' "$OUTPUT" | awk -F'\t' '$1 == "item" && $2 == "103" { print $3 "=" $4 } $1 == "selected" && $2 == "103" { print "selected=" $3 }')
    local expected="0=(0,1) ORVENTA CD-R    MODEL123 1.00
1=(1,3) ORVENTA CD-R    MODEL123 0.99
selected=0"
    if [ "$items" != "$expected" ]; then
        fail "drive list reads:"$'\n'"$items"$'\n'"expected:"$'\n'"$expected"
    fi
    expect_idle
    screenshot main_window
    press "$MODEL_TITLE" 2
    expect_gone "$MODEL_TITLE"
    expect_exit
    sleep 0.5

    if [ "$(count_writes "$folder")" -ne 0 ]; then fail "WRITE BUFFER reached the drive"; fi
    if [ -n "$(restart_copies)" ]; then fail "a restart copy was made: $(restart_copies)"; fi
    if [ -e "$WININIT" ]; then fail "WININIT.INI was written"; fi
    if restart_requested "$folder"; then fail "a restart was requested"; fi

    # Discovery settles each drive with three TEST UNIT READY, then asks its
    # INQUIRY twice (36 bytes, short blocks) and compares the answers.
    local address opcodes
    for address in 0:1 0:4 1:3; do
        opcodes=$(drive_commands "$folder" | awk -v a="$address" '$1 == a { printf "%s ", $2 }')
        if [ "$opcodes" != "00 00 00 12 12 " ]; then
            fail "discovery sent $address: $opcodes (expected 00 00 00 12 12)"
        fi
    done
    if ! drive_commands "$folder" | grep -q '^0:1 12 00 00 00 24 00 | in 36 '; then
        fail "the INQUIRY block of discovery is not 12 00 00 00 24 00 with 36 bytes"
    fi
}

# The virtual drive library checks every request block it receives against
# the published layout of this build's word size and refuses a faulty one
# (SS_INVALID_SRB, a line in errors.log) before any drive sees it: the probe
# sends sound blocks, which must be served, and faulty ones (the other word
# size's layout, reserved fields set, command block lengths that do not fit,
# sense area, data buffer or event that is not there).
case_aspi_refuses_faulty_blocks()
{
    local folder output refused
    folder=$(new_folder)
    if [ ! -f "$ASPI_PROBE" ]; then fail "$ASPI_PROBE is not built"; return 1; fi
    use_virtual_drive "$folder" || return 1
    cp "$ASPI_PROBE" "$folder/aspi_probe.exe"
    model_drive "$folder" 1.00 "completion = deferred"
    if ! output=$(cd "$folder" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wnaspi32=n" \
        ORV_VIRTUAL_LOG="$(windows_path "$folder/log")" timeout 60 "$PROGRAM_WINE" \
        aspi_probe.exe --faulty 2>"$folder/probe.err"); then
        fail "the library served a faulty block or refused a sound one:"$'\n'"$output"
        return 1
    fi
    log "  $(printf '%s\n' "$output" | tail -1)"
    refused=$(printf '%s\n' "$output" | sed -n 's/^[0-9]* served, \([0-9]*\) refused.*/\1/p')
    if [ "$(grep -c '^refused request block' "$folder/log/errors.log" 2>/dev/null)" != "$refused" ]
    then
        fail "errors.log does not name the $refused refused blocks:"$'\n'"$(cat "$folder/log/errors.log" 2>&1)"
    fi
    # Only the sound INQUIRY blocks reached the drive.
    local others
    others=$(drive_commands "$folder" | grep -v '^0:1 12 00 00 00 24 00\( 00 00 00 00 00 00\)\? | in 36 | srb 01 ')
    if [ -n "$others" ]; then fail "the drive received:"$'\n'"$others"; fi
    # Expected here, unlike in every other case (see check_library_errors).
    mv "$folder/log/errors.log" "$folder/refused.log" 2>/dev/null
}

# Without an ASPI library the 9x-family program cannot reach a drive.
case_aspi_library_missing_win98()
{
    local folder
    folder=$(new_folder)
    write_sound_package "$folder"
    set_windows_version win98
    start_program "$folder" WINEDLLOVERRIDES=wnaspi32=d
    expect_box "Error - Upgrade Program" "WNASPI32.DLL load failed."
    press "Error - Upgrade Program" 1
    expect_exit
    set_windows_version win10
}

# Package 1.04 against a drive with 1.05: the user is asked; No goes back to
# idle and nothing is written to the drive.
case_later_drive_firmware_win98()
{
    local folder
    folder=$(new_folder)
    write_update_package "$folder" 1.04 65536
    model_drive "$folder" 1.05
    set_windows_version win98
    start_on_virtual_drives "$folder"
    expect_idle || return
    press "$MODEL_TITLE" 1
    expect_box "$INFO_TITLE" 'Drive has later version of firmware than this program. Please \nvisit Orventa Web Site to check availability of latest firmware \nfor the drive you have.\n\nDo you continue it ?' || return
    screenshot later_drive_firmware
    press "$INFO_TITLE" 7
    expect_gone "$INFO_TITLE"
    expect_idle
    if [ "$(count_writes "$folder")" -ne 0 ]; then
        fail "WRITE BUFFER reached the drive:"$'\n'"$(drive_commands "$folder" | grep ' 3B ')"
    fi
    press "$MODEL_TITLE" 2
    expect_exit
}

# A whole update with an EPS image: the drive flashes exactly the chunks
# sent (the image's tail beyond the last whole chunk stays unsent), the
# transfer, flash and EPS displays follow each other, and the completion
# question comes; No returns to idle with UPDATE disabled for that drive.
case_full_update_win98()
{
    local folder chunks=64 size=$((64 * 8192 + 3000))
    folder=$(new_folder)
    write_eps_update_package "$folder" "$size"
    # The library completes each request later, from its own thread, through
    # the request's event: the program waits on it as on a real adapter. The
    # drive is an ATAPI one (12-byte command blocks) on an adapter that takes
    # only data buffers aligned to 32 bytes.
    model_drive "$folder" 1.00 "latency = 20" "eps-version = EPS0100" \
        "eps-new-version = EPS0200" "fault = write-buffer buffer=0x81 latency=1500" \
        "completion = deferred" "byte3 = 0x32" "[adapter 0]" "alignment = 0x1F"
    set_windows_version win98
    start_on_virtual_drives "$folder"
    run_update "$folder" full_update &
    local runner=$!
    wait_for_line "$folder/log/commands.log" '3B 00 80' && screenshot full_update_eps
    wait "$runner" || fail "the transfer and flash displays were not both seen"
    expect_box "$INFO_TITLE" "$RESTART_QUESTION" || return
    screenshot full_update_completed

    local texts
    texts=$(status_texts "$folder" | uniq | tr '\n' '|')
    log "  status line: $texts"
    case "$texts" in
    *" Wait... (Transferring data)| Wait... (Running Firmware upgrade procedure)| Firmware update is completed.|"*) ;;
    *) fail "status line went: $texts" ;;
    esac
    check_progress "$folder" 3

    if [ ! -f "$folder/log/flash-0-1.bin" ]; then
        fail "the drive flashed nothing"
    elif ! cmp -s "$folder/log/flash-0-1.bin" <(head -c $((chunks * 8192)) "$folder/FIRM.BIN"); then
        fail "the flashed image ($(stat -c %s "$folder/log/flash-0-1.bin") bytes) differs from the first $((chunks * 8192)) bytes of the image"
    fi
    if ! cmp -s <(tail -c +$((0x3400 + 1)) "$folder/log/eps-0-1.bin" 2>/dev/null) \
        <(tail -c +$((0x3400 + 1)) "$folder/EPS.BIN"); then
        fail "the committed EPS data differ from the EPS image"
    fi
    local writes
    writes=$(drive_commands "$folder" | grep -c '^0:1 3B 0[45] 00 ')
    if [ "$writes" -ne "$chunks" ]; then fail "$writes chunks sent, expected $chunks"; fi

    press "$INFO_TITLE" 7
    expect_gone "$INFO_TITLE"
    expect_idle disabled
    press "$MODEL_TITLE" 2
    expect_exit
    if [ -n "$(restart_copies)" ]; then fail "a restart copy was made after No"; fi
}

# check_progress FOLDER DISPLAYS: the progress bar as drawn on the screen.
# Each display starts the bar again from nearly empty: the transfer display
# fills it chunk by chunk to full, then come DISPLAYS - 1 displays under the
# flash text (the flash, then the EPS write when there is one), each rising;
# at completion the bar is full. Within a display the bar never goes back.
check_progress()
{
    local verdict
    verdict=$(sort -s -t$'\t' -k1,1n -k2,2r "$1/watch.log" | awk -F'\t' -v displays="$2" '
        $2 == "text" && $3 == "1032" { display = $4 }
        $2 == "fill" && $3 == "104" {
            v = $4
            if (n == 0 || v < last - 100) {
                n++; first[n] = v; steps[n] = 0
                kind[n] = display ~ /Transferring/ ? "transfer" : display ~ /Running/ ? "flash" : "other"
            } else if (v < last) bad = bad " went back from " last " to " v ";"
            if (v != last) steps[n]++
            top[n] = v; last = v
        }
        END {
            for (i = 1; i <= n; i++) summary = summary " " kind[i] " " first[i] "-" top[i] " in " steps[i] " steps;"
            if (n != displays) bad = bad " " n " displays, expected " displays ";"
            if (kind[1] != "transfer" || first[1] > 50 || top[1] < 900 || steps[1] < 5)
                bad = bad " the transfer display did not fill step by step;"
            for (i = 2; i <= n; i++)
                if (kind[i] != "flash" || first[i] > 300 || top[i] <= first[i] + 100)
                    bad = bad " display " i " did not rise under the flash text;"
            if (top[n] < 900) bad = bad " the bar was not full at completion;"
            print (bad == "" ? "ok:" : "bad:" bad " seen:") summary
        }')
    log "  progress bar: $verdict"
    case "$verdict" in ok:*) ;; *) fail "progress bar $verdict" ;; esac
}

# The drive fails the final chunk with a flash check sum error: the failure
# box names it, and the window is idle again with both buttons enabled.
case_flash_check_sum_error_win98()
{
    local folder
    folder=$(new_folder)
    write_update_package "$folder" 1.00 $((16 * 8192)) "UPDATE WAIT TIME=1"
    model_drive "$folder" 1.00 "fault = write-buffer mode=5 sense=09-86-00"
    set_windows_version win98
    start_on_virtual_drives "$folder"
    expect_idle || return
    press "$MODEL_TITLE" 1
    expect_box "$ERROR_TITLE" 'Firmware update is failed.\n\nFlash rom check sum error. (Code 09-86-00)' || return
    screenshot flash_check_sum_error
    press "$ERROR_TITLE" 1
    expect_gone "$ERROR_TITLE"
    expect_idle
    if [ -e "$folder/log/flash-0-1.bin" ]; then fail "the drive flashed an image"; fi
    press "$MODEL_TITLE" 2
    expect_exit
}


# ---- the restart -------------------------------------------------------------

# start_named FOLDER NAME [VAR=VALUE...]: starts the program copied into FOLDER
# under the file name NAME.
start_named()
{
    local folder=$1 name=$2
    shift 2
    cp "$PROGRAM" "$folder/$name"
    (cd "$folder" && exec env "$@" "$PROGRAM_WINE" "$name" \
        >"$folder/program.log" 2>&1) &
    PROGRAM_PID=$!
}

# A program named like a restart copy, in a folder without any package,
# reads no package: it waits about 8 s without showing anything and then
# asks for the restart.
case_restart_copy_mode()
{
    local folder started elapsed
    folder=$(new_folder)
    set_windows_version win98
    started=$(date +%s%N)
    start_named "$folder" REB_0000.EXE WINEDEBUG=+process
    sleep 4
    expect_no_error_box
    if restart_requested "$folder"; then fail "the restart came before the wait"; fi
    wait_for_restart "$folder" 12 || return
    elapsed=$((($(date +%s%N) - started) / 1000000))
    log "  restart requested after $elapsed ms"
    if [ "$elapsed" -lt 7500 ]; then fail "the restart came after only $elapsed ms"; fi
    expect_no_error_box
    expect_exit
}


# expect_wininit_entry FOLDER HEAD TAIL: WININIT.INI is HEAD (up to and with
# its "[RENAME]" line), one line "NUL=" with the restart copy's short path,
# then TAIL, byte for byte (CR LF line ends).
expect_wininit_entry()
{
    local folder=$1 head=$2 tail=$3
    if [ ! -f "$WININIT" ]; then
        fail "no WININIT.INI in the Windows folder"
        return 1
    fi
    cp "$WININIT" "$folder/wininit.after"
    local size head_size tail_size
    size=$(stat -c %s "$WININIT")
    head_size=$(printf '%b' "$head" | wc -c)
    tail_size=$(printf '%b' "$tail" | wc -c)
    if ! cmp -s <(head -c "$head_size" "$WININIT") <(printf '%b' "$head"); then
        fail "the lines before the entry changed:"$'\n'"$(od -c "$WININIT" | head -20)"
        return 1
    fi
    if ! cmp -s <(tail -c "$tail_size" "$WININIT") <(printf '%b' "$tail"); then
        fail "the lines after the entry changed:"$'\n'"$(od -c "$WININIT" | head -20)"
        return 1
    fi
    head -c $((size - tail_size)) "$WININIT" | tail -c +$((head_size + 1)) >"$folder/wininit.entry"
    log "  WININIT.INI entry: $(tr -d '\r\n' <"$folder/wininit.entry")"
    # One line; every part of the path is a short (8.3) name.
    if ! grep -qzP '\ANUL=[A-Za-z]:(\\[^\\.\r\n ]{1,8}(\.[^\\.\r\n ]{1,3})?)*\\REB_0000\.EXE\r\n\z' \
        "$folder/wininit.entry"; then
        fail "the entry is not one NUL= line with a short path: $(od -c "$folder/wininit.entry" | head -5)"
        return 1
    fi
}

# After a successful update answered with Yes, on the 9x family: the program
# copies itself into the temporary folder as REB_0000.EXE, enters the copy
# right after "[RENAME]" in WININIT.INI (the lines already there stay byte
# for byte), starts it and ends. The copy reads no package (none is in the
# temporary folder, so reading one would end in an error box), waits about
# 8 s and asks for the restart.
case_restart_after_update_win98()
{
    local folder temp answered elapsed
    local head='[Settings]\r\nKeep=1\r\n[RENAME]\r\n'
    local tail='NUL=C:\\WINDOWS\\TEMP\\OLD.TMP\r\nC:\\NEW.DLL=C:\\NEW.TMP\r\n[Other]\r\nx=y\r\n'
    folder=$(new_folder)
    write_update_package "$folder" 1.00 $((8 * 8192)) "UPDATE WAIT TIME=1"
    model_drive "$folder" 1.00
    clear_restart_traces
    temp=$(wine_temp_folder) || { fail "the prefix has no temporary folder"; return; }
    set_windows_version win98
    start_on_virtual_drives "$folder" WINEDEBUG=+process
    # Written once Wine is up: Wine's own start carries out and renames a
    # WININIT.INI it finds.
    expect_idle || return
    printf '%b%b' "$head" "$tail" >"$WININIT"
    run_update "$folder" || fail "the update was not followed to its end"
    expect_box "$INFO_TITLE" "$RESTART_QUESTION" || return
    press "$INFO_TITLE" 6
    answered=$(date +%s%N)
    expect_exit

    if [ "$(restart_copies)" != REB_0000.EXE ]; then
        fail "restart copies in the temporary folder: $(restart_copies | tr '\n' ' ')"
        return
    fi
    if ! cmp -s "$temp/REB_0000.EXE" "$PROGRAM"; then fail "REB_0000.EXE is not the program"; fi
    expect_wininit_entry "$folder" "$head" "$tail"
    if restart_requested "$folder"; then fail "the restart came before the copy's wait"; fi
    sleep 3
    expect_no_error_box
    wait_for_restart "$folder" 12 || return
    elapsed=$((($(date +%s%N) - answered) / 1000000))
    log "  the copy asked for the restart $elapsed ms after Yes"
    if [ "$elapsed" -lt 7000 ]; then fail "the copy did not wait: $elapsed ms"; fi
    sleep 2
    expect_no_error_box
    # What Wine's restart made of the entry (informational).
    log "  after Wine's restart: copy $( [ -e "$temp/REB_0000.EXE" ] && echo kept || echo deleted )," \
        "Windows folder holds $(cd "$WINEPREFIX/drive_c/windows" && ls -d [Ww][Ii][Nn][Ii][Nn][Ii][Tt].* 2>/dev/null | tr '\n' ' ')"
}

# USE DELETE FILE=NO: Yes makes no copy and touches no WININIT.INI; the
# ending program asks for the restart itself, at once. On the 9x family and
# on the NT family (ASPI required by the package, privileges adjusted).
case_restart_without_copy()
{
    local version
    for version in win98 win10; do
        restart_without_copy_on "$version"
    done
}

restart_without_copy_on()
{
    local version=$1 folder answered elapsed
    folder=$(new_folder)
    write_update_package "$folder" 1.00 $((8 * 8192)) "UPDATE WAIT TIME=1" "USE DELETE FILE=NO" \
        "USE SCSIPASSTHROUGHINTERFACE ON WINNT=NO"
    model_drive "$folder" 1.00
    clear_restart_traces
    set_windows_version "$version"
    start_on_virtual_drives "$folder" WINEDEBUG=+process
    run_update "$folder" || fail "the update was not followed to its end"
    expect_box "$INFO_TITLE" "$RESTART_QUESTION" || return
    press "$INFO_TITLE" 6
    answered=$(date +%s%N)
    wait_for_restart "$folder" 5 || return
    elapsed=$((($(date +%s%N) - answered) / 1000000))
    log "  $version: the program asked for the restart $elapsed ms after Yes"
    expect_exit
    expect_no_error_box
    if [ -n "$(restart_copies)" ]; then fail "$version: a restart copy was made"; fi
    if [ -e "$WININIT" ]; then fail "$version: WININIT.INI was written"; fi
}

# ---- runner -----------------------------------------------------------------

# check_library_errors MARKER: the virtual drive library logged no error
# (a refused request block, a description line not understood) in a run
# folder of the current case made after MARKER.
check_library_errors()
{
    local logs
    logs=$(find "$RUNS" -path "$RUNS/$CASE_NAME.*/log/errors.log" -newer "$1" 2>/dev/null)
    if [ -n "$logs" ]; then
        # shellcheck disable=SC2086
        fail "the virtual drive library logged errors:"$'\n'"$(cat $logs)"
    fi
}

main()
{
    for tool in "$PROGRAM" "$WINTEXT" "$CLASSLIB_CHECK"; do
        if [ ! -f "$tool" ]; then
            log "missing $tool: build the Windows targets first"
            exit 2
        fi
    done
    if [ -z "$PROGRAM_WINE" ] || [ -z "$PREFIX_WINE" ]; then
        log "no Wine to run a $BUILD_MACHINE program (32-bit programs need wine32:i386)"
        exit 2
    fi
    log "$BUILD_MACHINE build: programs under $PROGRAM_WINE, prefix by $PREFIX_WINE"
    trap cleanup EXIT
    start_display || exit 2
    make_prefix
    if declare -F before_cases >/dev/null; then before_cases; fi

    local cases=("$@")
    if [ ${#cases[@]} -eq 0 ]; then
        mapfile -t cases < <(declare -F | awk '{ print $3 }' | sed -n 's/^case_//p')
    fi

    local passed=0 failed=0 name
    for name in "${cases[@]}"; do
        if ! declare -F "case_$name" >/dev/null; then
            log "no case named $name"
            failed=$((failed + 1))
            continue
        fi
        CASE_NAME=$name
        CASE_FAILED=0
        log "case $name"
        mkdir -p "$RUNS"
        touch "$RUNS/.case-started"
        "case_$name"
        stop_program
        check_library_errors "$RUNS/.case-started"
        # Every case starts on the NT family.
        if [ -n "$WINDOWS_VERSION" ] && [ "$WINDOWS_VERSION" != win10 ]; then
            set_windows_version win10
        fi
        if [ "$CASE_FAILED" -eq 0 ]; then
            passed=$((passed + 1))
            log "  ok"
        else
            failed=$((failed + 1))
        fi
    done

    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# Sourced ("source run_wine_tests.sh BUILD_DIR"), the script only defines
# its helpers and cases, for a harness that adds cases of its own and calls
# main itself.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    main "$@"
fi
