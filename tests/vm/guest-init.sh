#!/bin/sh
# The guest's first process (busybox): reach the host's file system and the
# results folder over virtio 9p, make the host's root the guest's root under a
# tmpfs overlay, run the command and power off.
export PATH=/bin
busybox mount -t proc proc /proc
busybox mount -t sysfs sysfs /sys
busybox mount -t devtmpfs devtmpfs /dev
while read -r module; do busybox insmod "/modules/$module" || echo "init: $module failed"; done \
    </modules/order

results=$(busybox sed -n 's/.*orv\.results=\([^ ]*\).*/\1/p' /proc/cmdline)
host=/mnt/host
rw=/mnt/rw
busybox mkdir -p $host $rw
busybox mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose hostroot $host \
    || { echo "init: the host's root cannot be mounted"; busybox poweroff -f; }
busybox mount -t tmpfs -o size=2g tmpfs $rw
busybox mkdir -p $rw/upper $rw/work
busybox mount -t overlay overlay -o lowerdir=$host,upperdir=$rw/upper,workdir=$rw/work /newroot \
    || { echo "init: the overlay cannot be mounted"; busybox poweroff -f; }

root=/newroot
busybox mkdir -p "$root$results"
busybox mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=mmap results "$root$results"
busybox mount -t proc proc $root/proc
busybox mount -t sysfs sysfs $root/sys
busybox mount -t devtmpfs devtmpfs $root/dev
busybox mkdir -p $root/dev/pts $root/dev/shm
busybox ln -sf /proc/self/fd $root/dev/fd
busybox ln -sf /proc/self/fd/0 $root/dev/stdin
busybox ln -sf /proc/self/fd/1 $root/dev/stdout
busybox ln -sf /proc/self/fd/2 $root/dev/stderr
busybox mount -t devpts -o newinstance,ptmxmode=0666 devpts $root/dev/pts
busybox mount -t tmpfs tmpfs $root/dev/shm
busybox mount -t tmpfs tmpfs $root/run
busybox mkdir -p $root/run/user/0
busybox hostname orv-vm

busybox chroot $root /usr/bin/env -i HOME=/root USER=root LOGNAME=root TERM=xterm \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    /bin/sh -c "modprobe configfs 2>/dev/null; mount -t configfs configfs /sys/kernel/config 2>/dev/null; . '$results/vm-command.sh'"
echo $? >"$root$results/vm-exit-status"
busybox sync
busybox umount "$root$results" 2>/dev/null
busybox poweroff -f
