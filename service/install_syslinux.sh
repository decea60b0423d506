#!/bin/bash
# usage: install_syslinux.sh PARTITION MOUNTPOINT DEVICE
# Makes the drive boot the firmware on its FAT partition 1: the syslinux loader goes into the
# (unmounted) partition, the matching boot code into the drive's first sector.
part=$1 dev=$3
if [ -z "$part" ] || [ -z "$dev" ]; then
    echo "usage: install_syslinux.sh PARTITION MOUNTPOINT DEVICE" >&2
    exit 2
fi
syslinux --install "$part" || { echo "install_syslinux.sh: syslinux failed on $part" >&2; exit 1; }
if sfdisk -l "$dev" 2>/dev/null | grep -q 'Disklabel type: gpt'; then
    mbr=/usr/lib/syslinux/mbr/gptmbr.bin
else
    mbr=/usr/lib/syslinux/mbr/mbr.bin
fi
dd if="$mbr" of="$dev" bs=440 count=1 conv=notrunc 2>/dev/null || {
    echo "install_syslinux.sh: cannot write boot code to $dev" >&2; exit 1; }
echo "syslinux installed on $part, boot code on $dev"
