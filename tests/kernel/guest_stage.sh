#!/usr/bin/env bash
# Inside the machine with the real kernel: every case of the real-kernel stage.
#
#   guest_stage.sh RESULTS LINUX_BUILD [WINDOWS_BUILD...]
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
results=$1 linux_build=$2
shift 2
status=0
export ORVTCMU=$linux_build/orvtcmu

echo "guest: kernel $(uname -r), $(nproc) cores"
mkdir -p "$results/linux"
"$here/linux_cases.sh" "$results/linux" "$linux_build" || status=1

for build in "$@"; do
    name=$(basename "$build")
    echo "wine: $name, pass-through on the kernel's drive"
    ORV_E2E_KEEP_PREFIX=1 ORV_E2E_PREFIX="$results/wine-prefix" ORV_E2E_RUNS="$results/$name" \
        ORV_ARTIFACTS="$results/$name/screenshots" \
        "$here/../e2e/run_kernel_wine_tests.sh" "$build" || status=1
done
exit "$status"
