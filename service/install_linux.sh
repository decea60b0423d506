#!/bin/bash
# usage: install_linux.sh PARTITION MOUNTPOINT DEVICE
# Prepares the freshly formatted FAT partition 1 of the Linux layout for the firmware: a boot
# configuration, then the boot loader (install_syslinux.sh). The firmware files themselves
# arrive afterwards (restored from an image set, or unpacked by the install scripts).
part=$1 mnt=$2 dev=$3
if [ -z "$part" ] || [ -z "$mnt" ] || [ -z "$dev" ]; then
    echo "usage: install_linux.sh PARTITION MOUNTPOINT DEVICE" >&2
    exit 2
fi
mkdir -p "$mnt"
# Kernels without vfat mount it through FUSE.
mount -t vfat "$part" "$mnt" 2>/dev/null || fusefat -o rw+ "$part" "$mnt" || {
    echo "install_linux.sh: cannot mount $part" >&2; exit 1; }
if [ ! -e "$mnt/syslinux.cfg" ]; then
    printf 'DEFAULT linux\nLABEL linux\n  KERNEL vmlinuz\n  APPEND initrd=initrd.img quiet\n' > "$mnt/syslinux.cfg"
fi
sync
umount "$mnt" 2>/dev/null || fusermount -u "$mnt"
install_syslinux.sh "$part" "$mnt" "$dev"
