#!/bin/bash
# Makes the system drive's partitions known after its table changed. The kernel here parses no
# tables itself, so partprobe (partx as a fallback) tells it, and we wait until every partition
# the table lists has its device node.
drive=$(ahd.sh | head -n 1 | tr -d '[:space:]')
[ -n "$drive" ] || { echo "part-probe.sh: no system drive" >&2; exit 1; }
dev=/dev/$drive
sync
partprobe "$dev" 2>/dev/null || partx -u "$dev" 2>/dev/null
case "$drive" in *[0-9]) sep=p ;; *) sep= ;; esac
for n in $(sfdisk -l -q -o Device "$dev" 2>/dev/null | tail -n +2 | sed 's/.*[^0-9]//'); do
    for _ in $(seq 50); do
        [ -b "$dev$sep$n" ] && break
        sleep 0.1
    done
done
exit 0
