#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine: UPDATE.EXE runs in a
# scratch folder beside a package, and its dialogs and message boxes are read
# from outside with wintext.exe, as a user would see them.
#
#   run_wine_tests.sh WINDOWS_BUILD_DIR [CASE...]
#
# CASE names a function below without its "case_" prefix; without any, every
# case runs. Screenshots go to $ORV_ARTIFACTS (default: artifacts/e2e in the
# source tree). Exit status 0 only when every case passed.
#
# A case is a function named case_NAME: it makes a folder with new_folder,
# writes a package into it, starts the program with start_program and checks
# what appears with the expect_* helpers; a failed check calls fail.
set -u

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD_DIR=$(cd "${1:?usage: run_wine_tests.sh WINDOWS_BUILD_DIR [CASE...]}" && pwd)
shift
ARTIFACTS=${ORV_ARTIFACTS:-$SOURCE_DIR/artifacts/e2e}
PROGRAM=$BUILD_DIR/UPDATE.EXE
WINTEXT=$BUILD_DIR/wintext.exe
CLASSLIB_CHECK=$BUILD_DIR/classlib_check.exe
ASPI_DLL=$BUILD_DIR/WNASPI32.DLL
RUNS=$BUILD_DIR/e2e-runs
WAIT_MS=${ORV_E2E_WAIT_MS:-20000}

export WINEPREFIX=$BUILD_DIR/wine-e2e
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export LC_ALL=${LC_ALL:-C.UTF-8}

XVFB_PID=
PROGRAM_PID=
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

wine_cmd()
{
    if command -v wine >/dev/null 2>&1; then wine "$@"; else wine64 "$@"; fi
}

wineserver_cmd()
{
    if command -v wineserver >/dev/null 2>&1; then
        wineserver "$@"
    else
        /usr/lib/wine/wineserver64 "$@"
    fi
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
make_prefix()
{
    rm -rf "$WINEPREFIX"
    wine_cmd wineboot -i >/dev/null 2>&1
    wine_cmd reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine_cmd reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
        >/dev/null 2>&1
    wineserver_cmd -w
}

# The Windows family Wine reports: win98 (9x family), winxp, win2k, win10 ...
set_windows_version()
{
    wine_cmd reg add 'HKCU\Software\Wine' /v Version /d "$1" /f >/dev/null 2>&1
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
    (cd "$folder" && exec env "$@" "$(command -v wine || command -v wine64)" UPDATE.EXE \
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
    OUTPUT=$(wine_cmd "$WINTEXT" "$@" 2>/dev/null)
}

# expect_box CAPTION TEXT: a message box titled CAPTION appears and says TEXT.
expect_box()
{
    local caption=$1 text=$2
    if ! wintext wait "$caption" "$WAIT_MS"; then
        fail "no message box titled \"$caption\" appeared"
        wintext list
        log "  dialogs on screen:"$'\n'"$OUTPUT"
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

# ---- cases ------------------------------------------------------------------

# The Win32 services and class library on Wine's API: fonts, brushes,
# controls, modal dialogs with colour requests, threads, waits and files.
case_class_library()
{
    local folder output
    folder=$(new_folder)
    cp "$CLASSLIB_CHECK" "$folder/classlib_check.exe"
    if ! output=$(cd "$folder" && timeout 120 "$(command -v wine || command -v wine64)" \
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

# ---- runner -----------------------------------------------------------------

main()
{
    for tool in "$PROGRAM" "$WINTEXT" "$CLASSLIB_CHECK"; do
        if [ ! -f "$tool" ]; then
            log "missing $tool: build the Windows targets first"
            exit 2
        fi
    done
    trap cleanup EXIT
    start_display || exit 2
    make_prefix

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
        "case_$name"
        stop_program
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

main "$@"
