#!/bin/bash
# Prints the kernel name of the unit's system drive (sda, nvme0n1, mmcblk0), without /dev/.
# The system drive is the first fixed disk: not removable, not on USB, not a loop, RAM, optical
# or device-mapper node. Prints nothing when the unit has none.
for sys in /sys/block/*; do
    name=${sys##*/}
    case "$name" in
        loop*|ram*|zram*|sr*|dm-*|md*|fd*|nbd*) continue ;;
    esac
    [ "$(cat "$sys/removable" 2>/dev/null)" = "0" ] || continue
    [ "$(cat "$sys/size" 2>/dev/null)" != "0" ] || continue
    if readlink -f "$sys/device" 2>/dev/null | grep -q '/usb[0-9]*/'; then
        continue
    fi
    echo "$name"
    exit 0
done
exit 0
