#!/bin/bash
# Makes the system drive's partitions known after its table changed. The kernel here parses no
# tables itself, so partprobe (partx as a fallback) tells it, and we wait until every partition
# the table lists has its device node. When the kernel already knows exactly the partitions the
# table lists (numbers, starts and sizes), there is nothing to tell it, and a call after a change
# that was already probed costs no probe.
drive=$(ahd.sh | head -n 1 | tr -d '[:space:]')
[ -n "$drive" ] || { echo "part-probe.sh: no system drive" >&2; exit 1; }
dev=/dev/$drive
sync

# "number start sectors" of every partition, as the table on the drive lists them and as the
# kernel knows them.
on_drive() {
    partx -g -o NR,START,SECTORS "$dev" 2>/dev/null | awk '{ print $1, $2, $3 }'
}
in_kernel() {
    local part
    for part in /sys/class/block/"$drive"/*/partition; do
        [ -f "$part" ] || continue
        part=${part%/partition}
        echo "$(cat "$part/partition") $(cat "$part/start") $(cat "$part/size")"
    done | sort -n
}

table=$(on_drive)
if [ -z "$table" ] || [ "$table" != "$(in_kernel)" ]; then
    partprobe "$dev" 2>/dev/null || partx -u "$dev" 2>/dev/null
fi
case "$drive" in *[0-9]) sep=p ;; *) sep= ;; esac
for n in $(sfdisk -l -q -o Device "$dev" 2>/dev/null | tail -n +2 | sed 's/.*[^0-9]//'); do
    for ((i = 0; i < 50; i++)); do
        [ -b "$dev$sep$n" ] && break
        sleep 0.1
    done
done
exit 0
