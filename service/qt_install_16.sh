#!/bin/bash
# qt_install_16.sh DRIVE MODEL VERSION: installs firmware MODEL VERSION from the production server
# onto partition 1 of DRIVE (made by qt_part_10.sh): the archive (see firmware_url.sh) is fetched
# with wget and unpacked straight onto the partition, then every file its files.md5 list names
# (lines "MD5 NAME SIZE"; "#" comments and "remove" entries are no files) is checked.
# Prints the console's progress lines. Exit status: 0 installed, 1 a step failed, 2 bad usage.
set -u
[ $# -eq 3 ] || { echo "usage: qt_install_16.sh DRIVE MODEL VERSION" >&2; exit 2; }
drive=$1 model=$2 version=$3
case "$drive" in /dev/*) ;; *) drive=/dev/$drive ;; esac
case "$drive" in *[0-9]) p1=${drive}p1 ;; *) p1=${drive}1 ;; esac

fail() {
    echo "XXX Install failed: $1"
    echo "LLL qt_install_16.sh: $1"
    echo "qt_install_16.sh: $1" >&2
    exit 1
}

echo "TTT Installing $model $version"
url=$(firmware_url.sh "$model" "$version") || fail "no production server known"
[ -b "$p1" ] || fail "no partition $p1"
target=$(mktemp -d /tmp/qt_install_16.XXXXXX) || fail "no mount point"
trap 'umount "$target" 2>/dev/null; rmdir "$target"' EXIT
mount "$p1" "$target" || fail "cannot mount $p1"
echo 5

echo "XXX Fetching and unpacking $model $version"
wget -q -T 60 -t 2 -O - -- "$url" | tar -C "$target" -xf - --no-same-owner
status=("${PIPESTATUS[@]}")
[ "${status[0]}" = 0 ] || fail "wget could not fetch $url (exit ${status[0]})"
[ "${status[1]}" = 0 ] || fail "tar could not unpack the archive (exit ${status[1]})"
echo 70

if [ -f "$target/files.md5" ]; then
    echo "XXX Checking the installed files"
    awk '!/^#/ && NF >= 2 && $2 != "remove" { print $1 "  " $2 }' "$target/files.md5" |
        (cd "$target" && md5sum -c --quiet -) >/dev/null || fail "checksums of the installed files do not match"
fi
echo 90
sync
echo "XXX $model $version installed"
echo 100
