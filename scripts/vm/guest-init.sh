#!/bin/sh
# PID 1 of the test guest (installed as /sbin/qzarc-init, started by the
# kernel's init=). It mounts what wine needs, mounts the host's folder at the
# path the host gave (qzarc.share= on the kernel command line) so that every
# path means the same on both sides, runs the host's job script
# (qzarc.job=), leaves the job's exit status in the folder and powers off.
# Nothing else runs: no service manager, no network.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root

mount -t proc proc /proc 2>/dev/null
mount -t sysfs sysfs /sys 2>/dev/null
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts 2>/dev/null
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mount -o remount,rw /
hostname qzarc-guest 2>/dev/null

share=
job=
# The 9p mount options (qzarc.9p= overrides them, commas and all). Programs
# run straight from the shared folder. Without the page cache (cache=loose)
# a read larger than the transport's message size comes back short, and
# wine, which reads a program's sections that way, runs into zeros. The
# guest is new at every boot, so nothing it caches can go stale; what it
# writes reaches the host by the unmount at the end.
options=trans=virtio,version=9p2000.L,msize=524288,access=any,cache=loose
for arg in $(cat /proc/cmdline); do
    case $arg in
        qzarc.share=*) share=${arg#qzarc.share=} ;;
        qzarc.job=*) job=${arg#qzarc.job=} ;;
        qzarc.9p=*) options=${arg#qzarc.9p=} ;;
    esac
done

status=125
if [ -n "$share" ] && [ -n "$job" ]; then
    modprobe 9pnet_virtio 2>/dev/null
    modprobe 9p 2>/dev/null
    mkdir -p "$share"
    if mount -t 9p -o "$options" qzshare "$share"; then
        export QZARC_SHARE="$share"
        echo "qzarc-guest: running $job"
        sh "$job"
        status=$?
        echo "qzarc-guest: the job exited with $status"
        echo "$status" >"$share/.guest-status"
        sync
        umount "$share"
    else
        echo "qzarc-guest: cannot mount the shared folder at $share"
    fi
else
    echo "qzarc-guest: no qzarc.share= or qzarc.job= on the kernel command line"
fi

sync
echo 1 >/proc/sys/kernel/sysrq
echo o >/proc/sysrq-trigger
sleep 30
