#!/usr/bin/env bash
# Runs a script as root inside a QEMU virtual machine with Debian's own kernel,
# then powers the machine off.
#
#   run-in-vm.sh RESULTS_DIR SCRIPT [ARGS...]
#
# The guest sees the host's whole file system, read-only, at the same paths,
# under a tmpfs overlay (what the guest writes there is gone when it stops),
# and RESULTS_DIR read-write at its own path. The kernel's modules come from
# the host's /lib/modules. SCRIPT runs with its working directory at the
# current directory; its output goes to stdout and to RESULTS_DIR/vm-console.log.
# The exit status is SCRIPT's, or 125 when the machine could not run it.
#
# Settings: ORV_VM_TIMEOUT (seconds, default 900), ORV_VM_MEMORY (default 3G),
# ORV_VM_KERNEL (default: the newest /boot/vmlinuz-* with modules).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
results=$(mkdir -p "${1:?usage: run-in-vm.sh RESULTS_DIR SCRIPT [ARGS...]}" && cd "$1" && pwd)
shift
[ $# -ge 1 ] || { echo "usage: run-in-vm.sh RESULTS_DIR SCRIPT [ARGS...]" >&2; exit 125; }
timeout_s=${ORV_VM_TIMEOUT:-900}

die() { echo "run-in-vm: $*" >&2; exit 125; }

command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is not installed"
[ -x /bin/busybox ] || die "busybox-static is not installed"

kernel=${ORV_VM_KERNEL:-}
if [ -z "$kernel" ]; then
    for candidate in $(ls -v /boot/vmlinuz-* 2>/dev/null | sort -rV); do
        if [ -d "/lib/modules/${candidate#/boot/vmlinuz-}/kernel" ]; then
            kernel=$candidate
            break
        fi
    done
fi
[ -n "$kernel" ] && [ -r "$kernel" ] || die "no readable kernel with modules in /boot (linux-image-amd64)"
release=${kernel#/boot/vmlinuz-}
modules=/lib/modules/$release

# The initramfs: busybox and the modules that reach the shared file systems.
cache=${ORV_VM_CACHE:-${TMPDIR:-/tmp}/orv-vm-$release}
initrd=$cache/initrd.cpio.gz
if [ ! -s "$initrd" ] || [ "$here/guest-init.sh" -nt "$initrd" ]; then
    staging=$(mktemp -d)
    trap 'rm -rf "$staging"' EXIT
    mkdir -p "$staging"/{bin,dev,proc,sys,mnt,newroot,modules}
    cp /bin/busybox "$staging/bin/busybox"
    ln -s busybox "$staging/bin/sh"
    wanted=(virtio_pci 9pnet_virtio 9p overlay)
    order=()
    add_module() {
        local path deps dep
        path=$(grep -E "(^|/)$1\.ko(\.[a-z]+)?:" "$modules/modules.dep" | head -1) || true
        [ -n "$path" ] || die "module $1 is missing from $modules"
        deps=${path#*:}
        for dep in $deps; do add_module "$(basename "${dep%%.ko*}")"; done
        path=${path%%:*}
        [[ " ${order[*]-} " == *" $path "* ]] || order+=("$path")
    }
    for m in "${wanted[@]}"; do add_module "$m"; done
    : >"$staging/modules/order"
    for path in "${order[@]}"; do
        name=$(basename "$path")
        case "$name" in
            *.ko.xz) xz -dc "$modules/$path" >"$staging/modules/${name%.xz}" ;;
            *.ko.zst) zstd -qdc "$modules/$path" >"$staging/modules/${name%.zst}" ;;
            *) cp "$modules/$path" "$staging/modules/$name" ;;
        esac
        echo "${name%.ko*}.ko" >>"$staging/modules/order"
    done
    cp "$here/guest-init.sh" "$staging/init"
    chmod +x "$staging/init"
    mkdir -p "$cache"
    (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.tmp"
    mv "$initrd.tmp" "$initrd"
    rm -rf "$staging"
    trap - EXIT
fi

# What the guest runs: the command and its working directory.
{
    printf 'cd %q || exit 125\n' "$PWD"
    printf 'exec'
    printf ' %q' "$@"
    printf '\n'
} >"$results/vm-command.sh"
rm -f "$results/vm-exit-status"

# No usable KVM here (a nested module that refuses ordinary guests): TCG on
# every core. Without -smap, Wine's 32-bit code crashes the guest.
console=$results/vm-console.log
set +e
timeout --foreground -k 10 "$timeout_s" qemu-system-x86_64 \
    -accel tcg,thread=multi -cpu max,-smap -smp "$(nproc)" -m "${ORV_VM_MEMORY:-3G}" \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=4 panic=-1 orv.results=$results" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
    -nographic -no-reboot -nic none -serial stdio -monitor none \
    </dev/null 2>&1 | tee "$console"
qemu_status=${PIPESTATUS[0]}
set -e
if [ "$qemu_status" -eq 124 ]; then
    echo "run-in-vm: the machine did not finish within ${timeout_s} s" >&2
    exit 125
fi
if [ ! -s "$results/vm-exit-status" ]; then
    echo "run-in-vm: the machine stopped before the script ended (qemu status $qemu_status)" >&2
    exit 125
fi
exit "$(cat "$results/vm-exit-status")"
