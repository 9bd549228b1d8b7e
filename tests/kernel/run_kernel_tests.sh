#!/usr/bin/env bash
# The real-kernel stage: both programs against the virtual drive served to a
# real Linux kernel as a SCSI CD-ROM, inside a QEMU virtual machine.
#
#   run_kernel_tests.sh LINUX_BUILD [WINDOWS_BUILD...]
#
# Inside the machine (tests/kernel/guest_stage.sh): the Linux program's cases
# (tests/kernel/linux_cases.sh) and, for each Windows build, its pass-through
# cases under Wine (tests/e2e/run_wine_tests.sh). Results, drive logs and
# screenshots go to build/kernel-stage. Exit status 0 only when every case
# passed; a machine that cannot start a virtual machine fails the stage.
set -u
SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
LINUX_BUILD=$(cd "${1:?usage: run_kernel_tests.sh LINUX_BUILD [WINDOWS_BUILD...]}" && pwd)
shift
RESULTS=${ORV_KERNEL_RESULTS:-$SOURCE_DIR/build/kernel-stage}

for tool in "$LINUX_BUILD/orvupdate" "$LINUX_BUILD/orvtcmu" "$LINUX_BUILD/sg_write_loop"; do
    [ -x "$tool" ] || { echo "missing $tool: build the linux preset first" >&2; exit 2; }
done
windows=()
for build in "$@"; do windows+=("$(cd "$build" && pwd)"); done

rm -rf "$RESULTS"
mkdir -p "$RESULTS"
started=$(date +%s)
# The Wine prefix is made here, where Wine starts in seconds, and used in
# place in the machine over the results share.
if [ ${#windows[@]} -gt 0 ]; then
    ORV_E2E_PREFIX="$RESULTS/wine-prefix" \
        "$SOURCE_DIR/tests/e2e/run_kernel_wine_tests.sh" "${windows[0]}" --prepare \
        >"$RESULTS/prefix.log" 2>&1 || { echo "the Wine prefix could not be made" >&2; exit 2; }
fi
"$SOURCE_DIR/tests/vm/run-in-vm.sh" "$RESULTS" \
    "$SOURCE_DIR/tests/kernel/guest_stage.sh" "$RESULTS" "$LINUX_BUILD" "${windows[@]}" \
    >"$RESULTS/stage.log" 2>&1
status=$?
grep -v '^\[ *[0-9.]*\]' "$RESULTS/stage.log" \
    | grep -E '^(case |  ok|  FAIL|linux:|wine:|[0-9]+ passed|run-in-vm|guest:|median|  Wine)'
echo "real-kernel stage: $(($(date +%s) - started)) s, status $status"
if [ "$status" -ne 0 ] && [ "$status" -ne 125 ]; then
    echo "--- the stage's log, after the last guest start:"
    grep -v '^\[ *[0-9.]*\]' "$RESULTS/stage.log" | sed -n '/^guest:/,$p' | tail -60
fi
if [ "$status" -eq 125 ]; then
    echo "The virtual machine could not run the stage (see $RESULTS/stage.log):" \
         "this machine cannot start a QEMU guest with Debian's kernel." >&2
fi
exit "$status"
