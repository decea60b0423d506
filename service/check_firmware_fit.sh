#!/bin/bash
# check_firmware_fit.sh DRIVE MODEL VERSION: does the firmware archive of MODEL and VERSION on the
# production server (see firmware_url.sh) fit on DRIVE? The archive's size, as the server
# announces it, must leave at least 100 MiB of the drive free.
# Prints the console's progress lines. Exit status: 0 it fits, 1 it does not, 2 the archive or
# the drive cannot be found, 3 on bad usage.
set -u
[ $# -eq 3 ] || { echo "usage: check_firmware_fit.sh DRIVE MODEL VERSION" >&2; exit 3; }
drive=$1
case "$drive" in /dev/*) ;; *) drive=/dev/$drive ;; esac
reserve=$((100 * 1048576))

echo "TTT Checking the firmware size"
echo "XXX $2 $3"
url=$(firmware_url.sh "$2" "$3") || { echo "XXX No production server known"; exit 2; }
size=$(wget --spider -S -T 30 -t 1 -- "$url" 2>&1 | tr -d '\r' |
       awk '$1 ~ /^HTTP\// { code = $2 } tolower($1) == "content-length:" { n = $2 } END { if (code == 200) print n }')
case "$size" in ''|*[!0-9]*) echo "XXX The server has no firmware $2 $3"; echo "LLL no archive at $url"; exit 2 ;; esac
echo 50
disk=$(blockdev --getsize64 "$drive" 2>/dev/null)
[ -n "$disk" ] || { echo "XXX No drive $drive"; exit 2; }
echo "YYY firmware $((size / 1048576)) MiB, drive $((disk / 1048576)) MiB"
echo "LLL check_firmware_fit.sh: firmware $size bytes, drive $disk bytes"
echo 100
[ $((size + reserve)) -lt "$disk" ] || { echo "XXX The firmware does not fit on $drive"; exit 1; }
