#!/usr/bin/env bash
# Boots the test guest once, runs one job in it and waits for it to power off:
#   boot.sh SHARE_DIR JOB_SCRIPT
# SHARE_DIR (a host folder) appears in the guest at the same absolute path;
# JOB_SCRIPT, a file inside it, runs there as root with sh. Exits with the
# job's exit status, or 125 when the guest did not get to the end of it (the
# console's last lines are printed then).
#
# The guest's disk is opened with -snapshot, so the image stays as it was
# built; files the job writes on the guest's own disk (wine's temporary
# folder) keep their full time resolution, which the shared folder does not.
#
# Settings: QZARC_VM_IMAGE_DIR (default: what build-image.sh prints),
# QZARC_VM_ACCEL (tcg, the default, or kvm),
# QZARC_VM_MEMORY (MiB, default 3072), QZARC_VM_CPUS (default: this
# machine's, at most 4), QZARC_VM_TIMEOUT (seconds, default 3500, below the
# ctest entries' own limits), QZARC_VM_CONSOLE (the console log, default
# console.log beside the job), QZARC_VM_WRITABLE=1 (no snapshot: the image keeps
# what the job changes; only the image build uses it), QZARC_VM_9P (the
# shared folder's mount options in the guest, instead of guest-init.sh's).
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
share=$(realpath "${1:?usage: boot.sh SHARE_DIR JOB_SCRIPT}")
job=$(realpath "${2:?usage: boot.sh SHARE_DIR JOB_SCRIPT}")
case $job in
    "$share"/*) ;;
    *) echo "boot.sh: $job is not inside $share"; exit 2 ;;
esac
if [[ $share == *[[:space:],]* ]]; then
    # The kernel command line splits at spaces and -virtfs at commas.
    echo "boot.sh: the shared folder's path must not hold spaces or commas: $share"
    exit 2
fi

image_dir=${QZARC_VM_IMAGE_DIR:-}
if [[ -z $image_dir ]]; then
    image_dir=$(bash "$here/build-image.sh") || exit 125
fi

# Software emulation by default: the machines this route is for have no
# KVM, and a nested /dev/kvm is not always usable (seen: qemu aborting on an
# MSR the outer hypervisor refuses). QZARC_VM_ACCEL=kvm opts in.
accel=${QZARC_VM_ACCEL:-tcg}
if [[ $accel == kvm ]]; then
    cpu=host
else
    # QEMU 7.2's software CPU with SMAP faults on the 32-bit IRET of every
    # 32-bit process in the guest (a kernel Oops); without SMAP it is sound.
    cpu=max,-smap
fi
cpus=${QZARC_VM_CPUS:-$(nproc)}
((cpus > 4)) && cpus=4
console=${QZARC_VM_CONSOLE:-$(dirname "$job")/console.log}
snapshot=-snapshot
[[ ${QZARC_VM_WRITABLE:-0} == 1 ]] && snapshot=
# As root, files the guest writes in the shared folder belong to the users
# it names; otherwise they belong to whoever runs qemu.
security=none
[[ $EUID -eq 0 ]] && security=passthrough

rm -f "$share/.guest-status"
: >"$console"
# ia32_emulation=on: kernels that can turn 32-bit support off keep it on.
timeout --kill-after=10 "${QZARC_VM_TIMEOUT:-3500}" \
    qemu-system-x86_64 -nodefaults -no-user-config -no-reboot \
    -machine pc -accel "$accel" -cpu "$cpu" -smp "$cpus" -m "${QZARC_VM_MEMORY:-3072}" \
    -kernel "$image_dir/vmlinuz" -initrd "$image_dir/initrd.img" \
    -append "console=ttyS0 root=/dev/vda rw quiet panic=-1 ia32_emulation=on init=/sbin/qzarc-init qzarc.share=$share qzarc.job=$job${QZARC_VM_9P:+ qzarc.9p=$QZARC_VM_9P}" \
    -drive "file=$image_dir/rootfs.img,if=virtio,format=raw,cache=unsafe" $snapshot \
    -virtfs "local,path=$share,mount_tag=qzshare,security_model=$security,id=qzshare" \
    -display none -serial "file:$console" -monitor none
qemu_status=$?

if [[ ! -f $share/.guest-status ]]; then
    echo "boot.sh: the guest did not finish its job (qemu exit status $qemu_status); its console:"
    tail -n 40 "$console"
    exit 125
fi
status=$(<"$share/.guest-status")
rm -f "$share/.guest-status"
exit "$status"
