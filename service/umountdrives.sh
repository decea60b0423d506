#!/bin/bash
# Unmounts every file system mounted from the system drive, so the engine can write it.
# What was mounted is remembered in /tmp/.umountdrives for mountdrives.sh.
drive=$(ahd.sh | head -n 1 | tr -d '[:space:]')
[ -n "$drive" ] || exit 0
list=/tmp/.umountdrives
sync
# Deepest mount points first; /proc/self/mounts escapes blanks as \040.
awk -v d="/dev/$drive" '$1 == d || (substr($1, 1, length(d)) == d && substr($1, length(d) + 1) ~ /^p?[0-9]+$/) { print $1, $2, $3 }' /proc/self/mounts | sort -k2 -r |
while read -r dev mnt type; do
    path=$(printf '%b' "$mnt")
    if umount "$path" 2>/dev/null || fusermount -u "$path" 2>/dev/null; then
        echo "$dev $mnt $type" >> "$list"
        echo "unmounted $dev from $path"
    else
        echo "could not unmount $dev from $path" >&2
    fi
done
exit 0
