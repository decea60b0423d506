#!/bin/bash
# qt_part_10.sh DRIVE ROOT_MIB [PACKAGES_MIB]: lays the unit's system drive out for the firmware.
#   partition 1  ROOT_MIB MiB, ext4 labelled "firmware": the firmware's root, /boot included
#   partition 4  PACKAGES_MIB MiB, ext4 labelled "packages", only when given: the older firmware
#                keeps its package images there
#   partition 2  the rest of the drive, ext4 labelled "data"
# DRIVE is a kernel name (sda, mmcblk0) or a device path. Everything on the drive is lost.
# Prints the console's progress lines (TTT title, XXX message, a number for the bar).
# Exit status: 0 when the drive is ready, 1 when a step failed, 2 on bad usage.
set -u
case "${1:-}" in
-h|--help) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 0 ;;
esac
[ $# -ge 2 ] && [ $# -le 3 ] || { echo "usage: qt_part_10.sh DRIVE ROOT_MIB [PACKAGES_MIB] (see --help)" >&2; exit 2; }
drive=$1 root=$2 packages=${3:-}
case "$drive" in /dev/*) ;; *) drive=/dev/$drive ;; esac
for n in "$root" $packages; do
    case "$n" in ''|*[!0-9]*) echo "qt_part_10.sh: '$n' is no size in MiB" >&2; exit 2 ;; esac
done
[ -b "$drive" ] || { echo "XXX No drive $drive"; echo "qt_part_10.sh: $drive is no block device" >&2; exit 1; }

fail() {
    echo "XXX Partitioning failed: $1"
    echo "LLL qt_part_10.sh: $1"
    echo "qt_part_10.sh: $1" >&2
    exit 1
}
part() {
    case "$drive" in *[0-9]) echo "${drive}p$1" ;; *) echo "$drive$1" ;; esac
}

echo "TTT Partitioning $drive"
echo "XXX Unmounting $drive"
# Whatever is mounted from the drive goes first (the innermost mount first); /proc/mounts writes
# blanks in mount points as \040.
grep "^$drive" /proc/self/mounts | awk '{print $2}' | sort -r | while read -r point; do
    umount "$(printf '%b' "$point")" || umount -l "$(printf '%b' "$point")"
done
echo 5

echo "XXX Writing the partition table"
layout=(-n "1:0:+${root}M" -t 1:8300 -c 1:firmware)
[ -n "$packages" ] && layout+=(-n "4:0:+${packages}M" -t 4:8300 -c 4:packages)
layout+=(-n 2:0:0 -t 2:8300 -c 2:data)
sgdisk -Z "$drive" >/dev/null 2>&1
sgdisk "${layout[@]}" "$drive" >/dev/null || fail "the drive is too small for ${root} MiB${packages:+ and $packages MiB} (or sgdisk failed)"
echo 20

# The kernel may not read the new table itself: partprobe tells it, then wait for the nodes.
partprobe "$drive" 2>/dev/null || partx -u "$drive" 2>/dev/null
numbers="1 2${packages:+ 4}"
for n in $numbers; do
    tries=0
    while [ ! -b "$(part "$n")" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    [ -b "$(part "$n")" ] || fail "no node $(part "$n") after partprobe"
done
echo 30

step=30
for n in $numbers; do
    case $n in 1) label=firmware ;; 2) label=data ;; 4) label=packages ;; esac
    echo "XXX Making the $label file system on $(part "$n")"
    mkfs.ext4 -q -F -L "$label" "$(part "$n")" || fail "mkfs.ext4 on $(part "$n")"
    step=$((step + 20))
    echo $step
done
sync
echo "XXX $drive is ready"
echo 100
