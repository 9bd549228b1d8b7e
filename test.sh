#!/usr/bin/env bash
# Runs every test: native unit and integration tests, the Linux .deb built,
# installed into a throwaway root and run, the same unit tests under the
# address/undefined and thread sanitizers, a short fuzz run of the package
# reader, both Windows builds, the end-to-end tests of both builds of the
# real Windows program (x86_64 and i686) under Wine and Xvfb, and the
# real-kernel stage: a QEMU machine with Debian's kernel running both programs
# against the virtual drive served as a SCSI CD-ROM.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"
scripts/install-deps.sh
jobs="$(nproc)"
status=0
step() { echo; echo "=== $*"; }

step "native build and tests"
cmake --preset linux >/dev/null
cmake --build build/linux -j"$jobs"
ctest --preset linux -j"$jobs" || status=1

step "Linux package: build the .deb, install it into a throwaway root, run it"
(cd build/linux && cpack -G DEB >/dev/null) || status=1
deb="$(ls build/linux/orvupdate_*_amd64.deb 2>/dev/null | head -1)"
if [ -n "$deb" ]; then
  root="$(mktemp -d)"
  dpkg-deb -x "$deb" "$root"
  "$root/usr/sbin/orvupdate" --version || status=1
  "$root/usr/sbin/orvupdate" --check samples/demo-good || status=1
  [ -s "$root/usr/share/man/man8/orvupdate.8.gz" ] || { echo "no manual page"; status=1; }
  rm -rf "$root"
else
  echo "no package built"; status=1
fi

step "address and undefined-behaviour sanitizers"
cmake --preset linux-asan >/dev/null
cmake --build build/linux-asan --target orv_tests -j"$jobs"
ctest --preset linux-asan -j"$jobs" || status=1

step "thread sanitizer"
cmake --preset linux-tsan >/dev/null
cmake --build build/linux-tsan --target orv_tests -j"$jobs"
ctest --preset linux-tsan -j"$jobs" || status=1

step "fuzzing the package reader (30 s)"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_package -j"$jobs"
mkdir -p build/fuzz/corpus
cp fuzz/corpus_package/* samples/demo-good/UPDATE.INI build/fuzz/corpus/
build/fuzz/fuzz_package -max_total_time=30 -rss_limit_mb=1024 -dict=fuzz/fuzz_package.dict \
  build/fuzz/corpus >build/fuzz/fuzz.log 2>&1 \
  || { tail -40 build/fuzz/fuzz.log; status=1; }

step "Windows builds (x86_64 and i686)"
cmake --preset windows-x64 >/dev/null
cmake --build build/windows-x64 -j"$jobs"
cmake --preset windows-x86 >/dev/null
cmake --build build/windows-x86 -j"$jobs"

# One list of cases, two builds: the i686 program runs under 32-bit Wine.
for build in windows-x64 windows-x86; do
  step "Windows program end to end under Wine ($build)"
  started=$SECONDS
  tests/e2e/run_wine_tests.sh "build/$build" || status=1
  echo "($build: $((SECONDS - started)) s)"
done

step "A real kernel: both programs against the virtual drive served as a SCSI CD-ROM in a VM"
tests/kernel/run_kernel_tests.sh build/linux build/windows-x64 build/windows-x86 || status=1

echo
if [ "$status" -eq 0 ]; then echo "All test stages passed."; else echo "Some test stage FAILED."; fi
exit "$status"
