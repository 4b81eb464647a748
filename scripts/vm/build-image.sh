#!/usr/bin/env bash
# Builds, once, the guest in which the Windows test programs run on machines
# that cannot run 32-bit programs themselves: a Debian bookworm amd64 system
# with wine's 32-bit loader, made with debootstrap from Debian's packages
# only, its wine prefix already created, stored as an ext4 image with the
# kernel and initrd beside it for qemu's -kernel/-initrd.
#
#   build-image.sh            prints the image directory (builds it first
#                             when it is not there)
#
# The image lives in $QZARC_VM_CACHE (default /var/cache/qzarc-vm), outside
# any work tree so that clones and `make clean` share it, in a directory
# named after a hash of what makes it (the guest's init, the package list,
# the mirror and the revision number below): a change to any of them builds a
# new one and removes the old. Downloaded packages are kept there too, so a rebuild does
# not fetch them again. Needs root (debootstrap, chroot, mke2fs -d).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/../deps-common.sh"

cache=${QZARC_VM_CACHE:-/var/cache/qzarc-vm}
suite=bookworm
# The mirror this machine's apt uses, so the guest comes from the same place.
mirror=${QZARC_VM_MIRROR:-}
if [[ -z $mirror ]]; then
    mirror=$(grep -rhoE '^(URIs:|deb) +https?://[^ ]+/debian/?( |$)' \
                 /etc/apt/sources.list /etc/apt/sources.list.d 2>/dev/null |
             grep -oE 'https?://[^ ]+' | head -n 1 || true)
    if [[ -z $mirror ]]; then
        echo "build-image: no Debian mirror in this machine's apt configuration; set QZARC_VM_MIRROR" >&2
        exit 1
    fi
fi
mirror=${mirror%/}
security_mirror=${mirror%/debian}/debian-security
# What the guest needs: a kernel (its initrd mounts the virtio disk), wine
# with its 32-bit loader only (a 32-bit prefix, as cmake/run-wine-tests.sh
# makes on a machine that runs the programs itself: the same on both
# routes), the zone files the tests' TZ names, and kmod to load the 9p
# modules of the shared folder.
guest_packages=(linux-image-amd64 wine wine32:i386 tzdata kmod procps)

log() { echo "vm-image: $*" >&2; }

# Raise when a change to the steps below changes what the image holds.
revision=1
key=$( { cat "$here/guest-init.sh"; echo "$revision $suite $mirror ${guest_packages[*]}"; } |
       sha256sum | cut -c1-16)
image_dir=$cache/image-$key

# qemu boots the guest; the rest builds it. Installed when root, else named.
need_command qemu-system-x86_64 qemu-system-x86
if [[ ! -f $image_dir/ready ]]; then
    need_command debootstrap debootstrap
    need_command mke2fs e2fsprogs
    need_file /usr/share/keyrings/debian-archive-keyring.gpg debian-archive-keyring
fi
install_missing vm-image >&2

if [[ -f $image_dir/ready ]]; then
    echo "$image_dir"
    exit 0
fi

if [[ $EUID -ne 0 ]]; then
    log "building the guest image needs root (debootstrap, chroot, mke2fs -d)"
    exit 1
fi


mkdir -p "$cache/debs" "$cache/apt-archives/partial"
# One builder at a time; a second waits and then finds the image made.
exec 9>"$cache/build.lock"
flock 9
if [[ -f $image_dir/ready ]]; then
    echo "$image_dir"
    exit 0
fi

start=$SECONDS
work=$cache/work-$key
tree=$work/root
cleanup() {
    local m
    for m in var/cache/apt/archives dev/pts dev sys proc; do
        mountpoint -q "$tree/$m" 2>/dev/null && umount -l "$tree/$m"
    done
    return 0
}
trap cleanup EXIT
cleanup
# What an interrupted build left (of this or an earlier revision): first
# whatever is still mounted inside it (/dev among them), then the files,
# never crossing into another file system.
awk -v prefix="$cache/work-" 'index($2, prefix) == 1 { print $2 }' /proc/self/mounts |
    sort -r | while read -r m; do umount -l "$m"; done
rm -rf --one-file-system "$cache"/work-*
mkdir -p "$work"

log "debootstrap $suite from $mirror into $tree"
debootstrap --variant=minbase --arch=amd64 --cache-dir="$cache/debs" \
    --include=ca-certificates "$suite" "$tree" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 30 "$work/debootstrap.log" >&2; exit 1; }
log "debootstrap done ($((SECONDS - start)) s)"

cat >"$tree/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security_mirror $suite-security main
EOF
echo qzarc-guest >"$tree/etc/hostname"
# No recommended packages, no documentation: the guest only runs programs.
cat >"$tree/etc/apt/apt.conf.d/90qzarc" <<EOF
APT::Install-Recommends "false";
EOF
mount -t proc proc "$tree/proc"
mount -t sysfs sys "$tree/sys"
mount --bind /dev "$tree/dev"
mount --bind /dev/pts "$tree/dev/pts"
mount --bind "$cache/apt-archives" "$tree/var/cache/apt/archives"
cp /etc/resolv.conf "$tree/etc/resolv.conf" 2>/dev/null || true

log "installing ${guest_packages[*]} in the guest tree"
chroot "$tree" /bin/sh -c "dpkg --add-architecture i386 &&
    DEBIAN_FRONTEND=noninteractive apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q ${guest_packages[*]}" \
    >"$work/packages.log" 2>&1 || { tail -n 30 "$work/packages.log" >&2; exit 1; }
log "packages installed ($((SECONDS - start)) s)"
cleanup

install -m 0755 "$here/guest-init.sh" "$tree/sbin/qzarc-init"
: >"$tree/etc/resolv.conf"
rm -rf "$tree/usr/share/doc" "$tree/usr/share/man" "$tree/var/lib/apt/lists"/*_* || true

mkdir -p "$work/out"
kernel=$(ls "$tree"/boot/vmlinuz-* | sort -V | tail -n 1)
initrd=$(ls "$tree"/boot/initrd.img-* | sort -V | tail -n 1)
cp "$kernel" "$work/out/vmlinuz"
cp "$initrd" "$work/out/initrd.img"
# A sparse 8 GiB disk: the tree takes under 3 GiB, the rest is room for the
# tests' temporary files (written to a snapshot, never into the image).
log "making the ext4 image"
mke2fs -q -t ext4 -L qzarc-guest -d "$tree" "$work/out/rootfs.img" 8G >&2
rm -rf --one-file-system "$tree"

# The wine prefix is made in the guest itself (this machine may not run
# 32-bit programs): one boot without -snapshot, so that it stays in the image.
log "first boot: making the wine prefix in the guest"
mkdir -p "$work/share"
cat >"$work/share/job.sh" <<'EOF'
export HOME=/root WINEPREFIX=/root/.wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine wineboot --init && wineserver -w && echo ok >"$QZARC_SHARE/prefix-made"
EOF
QZARC_VM_IMAGE_DIR=$work/out QZARC_VM_WRITABLE=1 \
    bash "$here/boot.sh" "$work/share" "$work/share/job.sh" >"$work/first-boot.log" 2>&1 ||
    { tail -n 40 "$work/first-boot.log" >&2; exit 1; }
if [[ ! -f $work/share/prefix-made ]]; then
    log "the guest did not make its wine prefix:"
    tail -n 40 "$work/first-boot.log" >&2
    exit 1
fi

rm -rf "$cache"/image-*
mv "$work/out" "$image_dir"
date -u +%FT%TZ >"$image_dir/ready"
rm -rf --one-file-system "$work"
log "image ready in $image_dir ($((SECONDS - start)) s; $(du -sh --apparent-size "$image_dir" | cut -f1) apparent, $(du -sh "$image_dir" | cut -f1) used)"
echo "$image_dir"
