#!/bin/bash
# Mounts again what umountdrives.sh unmounted, where the partition still exists.
list=/tmp/.umountdrives
[ -f "$list" ] || exit 0
while read -r dev mnt type; do
    path=$(printf '%b' "$mnt")
    [ -b "$dev" ] || continue
    mkdir -p "$path"
    case "$type" in
        fuseblk|ntfs|ntfs3) ntfs-3g "$dev" "$path" ;;
        vfat|msdos) mount -t vfat "$dev" "$path" 2>/dev/null || fusefat -o rw+ "$dev" "$path" ;;
        *) mount "$dev" "$path" ;;
    esac && echo "mounted $dev on $path"
done < "$list"
rm -f "$list"
exit 0
