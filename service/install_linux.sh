#!/bin/bash
# usage: install_linux.sh PARTITION MOUNTPOINT DEVICE
# Prepares the freshly formatted FAT partition 1 of the Linux layout for the firmware: a boot
# configuration, then the boot loader (install_syslinux.sh). The firmware files themselves
# arrive afterwards (restored from an image set, or unpacked by the install scripts).
# The partition is written with mtools, so no vfat driver and no mount are needed; the mount
# point is passed on for callers that expect it.
part=$1 mnt=$2 dev=$3
if [ -z "$part" ] || [ -z "$mnt" ] || [ -z "$dev" ]; then
    echo "usage: install_linux.sh PARTITION MOUNTPOINT DEVICE" >&2
    exit 2
fi
export MTOOLS_SKIP_CHECK=1
if ! mdir -i "$part" ::/syslinux.cfg >/dev/null 2>&1; then
    printf 'DEFAULT linux\r\nLABEL linux\r\n  KERNEL vmlinuz\r\n  APPEND initrd=initrd.img quiet\r\n' |
        mcopy -i "$part" - ::/syslinux.cfg || { echo "install_linux.sh: cannot write to $part" >&2; exit 1; }
fi
install_syslinux.sh "$part" "$mnt" "$dev"
