#!/bin/bash
# Wall time of the engine's compressed backup and restore of a unit's system drive against what a
# technician would type by hand for the same drive, in the same run:
#   backup:  sgdisk -b of the table, dd | gzip of partitions 1, 2 and 4, ntfsclone --save-image |
#            gzip of the NTFS partition 3;
#   restore: sgdisk -l and a partition probe, gunzip | dd for partitions 1, 2 and 4, gunzip |
#            ntfsclone --restore-image for partition 3.
# The unit drive is a virtual GPT drive of 1 GiB (EFI, MS-Reserved, NTFS with about 600 MiB of
# mixed random and text files, MS-Recovery), restored onto a second drive of the same size. Every
# engine restore is compared with the source (partitions 1, 2, 4 by md5, the NTFS files one by one)
# before its time counts. Runs itself inside the test sandbox, so that the engine's logs, status
# files, lock and drives stay private to the run.
#
# usage: bench/imaging.sh     (as root; about three minutes with the default RUNS)
# Environment: BRENLOW_BIN (the built programs; default build/bin), RUNS (best of, default 3),
#   KEEP_LOGS (a folder outside the sandbox: the engine's output and debug logs of the last run of
#   each case are copied there).
# Prints one line per case (best wall time of engine and hand, and the ratio engine/hand: lower is
# better, 1.0 is the hand pipeline's speed) and last `ratio=<the larger of the two>`.
set -u

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
runs=${RUNS:-3}

if ! [ "$runs" -ge 1 ] 2>/dev/null; then
    echo "imaging bench: RUNS must be a positive number" >&2
    exit 2
fi

if [ -z "${BRENLOW_SANDBOX:-}" ]; then
    export BRENLOW_BIN=${BRENLOW_BIN:-$source_dir/build/bin}
    for tool in vaultine xblit ahd.sh umountdrives.sh mountdrives.sh part-probe.sh; do
        [ -x "$BRENLOW_BIN/$tool" ] || { echo "imaging bench: no $BRENLOW_BIN/$tool (build it first)" >&2; exit 2; }
    done
    for tool in sgdisk mkdosfs mkntfs ntfs-3g ntfsclone partprobe gzip blkdiscard; do
        command -v "$tool" > /dev/null || { echo "imaging bench: $tool is missing" >&2; exit 2; }
    done
    if [ -n "${KEEP_LOGS:-}" ]; then
        mkdir -p "$KEEP_LOGS" || exit 2
        KEEP_LOGS=$(cd "$KEEP_LOGS" && pwd)
        export KEEP_LOGS
    fi
    exec "$source_dir/tests/sandbox/run-in-sandbox" bash "$here/$(basename "$0")" "$@"
fi

# shellcheck source=tests/sandbox/lib.sh
. "$source_dir/tests/sandbox/lib.sh"

sets=/mnt/usb
image=$sets/x.bim
hand=$sets/hand
src_mnt=/mnt/bench-src
chk_mnt=/mnt/bench-chk
nosums=/tmp/.nosums
work=$(mktemp -d /tmp/imaging-bench.XXXXXX) || exit 1

cleanup() {
    for m in "$chk_mnt" "$src_mnt"; do
        mountpoint -q "$m" && { umount "$m" 2>/dev/null || fusermount -u "$m" 2>/dev/null; }
        rmdir "$m" 2>/dev/null
    done
    rm -f "$nosums" "$image"* "$hand".*
    rmdir "$sets" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "imaging bench: $*" >&2
    exit 1
}

now() { date +%s%N; }

# The engine's output and debug log of its last run: shown when it fails, kept with KEEP_LOGS.
engine_log() {
    local name=$1
    cp /var/log/vtl_debug.log "$work/$name.debug.log" 2>/dev/null
    if [ -n "${KEEP_LOGS:-}" ]; then
        cp "$work/$name.out" "$KEEP_LOGS/$name.out" 2>/dev/null
        cp "$work/$name.debug.log" "$KEEP_LOGS/$name.debug.log" 2>/dev/null
    fi
}

engine_failed() {
    local name=$1 rc=$2
    echo "imaging bench: $name exited with $rc; its last output:" >&2
    tail -n 30 "$work/$name.out" >&2
    echo "--- the end of /var/log/vtl_debug.log:" >&2
    tail -n 30 "$work/$name.debug.log" >&2 2>/dev/null
    exit 1
}

# Neither side may find its data in the page cache (ignored where the kernel does not allow it).
settle() {
    sync
    echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true
}

# ---------------------------------------------------------------- the unit drive

src=$(sbx_drive unit 1G) || fail "cannot make the unit drive"
dst=$(sbx_drive target 1G) || fail "cannot make the target drive"
sbx_gpt "$src" -n 1:0:+64M -t 1:ef00 -c 1:EFI -n 2:0:+16M -t 2:0c01 -c 2:MSR \
    -n 3:0:-64M -t 3:0700 -c 3:Windows -n 4:0:0 -t 4:2700 -c 4:Recovery || fail "cannot partition $src"
for n in 1 2 3 4; do
    [ -b "$(sbx_part "$src" "$n")" ] || fail "no node for partition $n of $src"
done
p1=$(sbx_part "$src" 1) p2=$(sbx_part "$src" 2) p3=$(sbx_part "$src" 3) p4=$(sbx_part "$src" 4)

mkdosfs -F 32 -n SYSTEM "$p1" > /dev/null || fail "mkdosfs $p1 failed"
# A recovery partition is mostly a packed image: its start gets random bytes, the rest stays zero.
head -c $((24 * 1048576)) /dev/urandom | dd of="$p4" bs=1M status=none conv=fsync || fail "cannot fill $p4"
mkntfs -Q -F -L Windows "$p3" > /dev/null 2>&1 || fail "mkntfs $p3 failed"

# About 600 MiB on the NTFS volume: half of it random (media, archives), half text (logs, documents,
# a copy of some of /usr/share), in files from a few KiB to 40 MiB.
mkdir -p "$src_mnt" || exit 1
ntfs-3g "$p3" "$src_mnt" || fail "cannot mount $p3 with ntfs-3g"
mkdir -p "$src_mnt/media" "$src_mnt/cache" "$src_mnt/logs" "$src_mnt/share" || fail "cannot write to $src_mnt"
for i in 1 2 3 4 5 6; do
    head -c $((40 * 1048576)) /dev/urandom > "$src_mnt/media/video$i.bin" || fail "cannot fill $src_mnt"
done
for i in $(seq 200); do
    head -c $(((i % 8 + 1) * 65536)) /dev/urandom > "$src_mnt/cache/blob$i.dat" || fail "cannot fill $src_mnt"
done
seq 1 12000000 > "$src_mnt/logs/counter.txt" || fail "cannot fill $src_mnt"
seq -f 'event %g: service state changed, nothing to do' 1 1500000 > "$src_mnt/logs/events.log" || fail "cannot fill $src_mnt"
tar -C /usr/share -cf - doc i18n perl 2>/dev/null | tar -C "$src_mnt/share" -xf - --no-same-owner --no-same-permissions 2>/dev/null
used=$(du -sm --apparent-size "$src_mnt" | cut -f1)
files=$(find "$src_mnt" -type f | wc -l)
(cd "$src_mnt" && find . -type f -print0 | sort -z | xargs -0 md5sum) > "$work/files.md5" || fail "cannot read $src_mnt"
umount "$src_mnt" || fail "cannot unmount $src_mnt"
for n in 1 2 4; do
    md5sum < "$(sbx_part "$src" "$n")" > "$work/p$n.md5" || fail "cannot read partition $n of $src"
done
echo "unit drive: $src (1 GiB GPT, $used MiB in $files files on NTFS), target $dst, best of $runs"

# verify DEV WHAT: DEV must hold the unit drive's partitions 1, 2 and 4 and its NTFS files.
verify() {
    local dev=$1 what=$2 n
    for n in 1 2 4; do
        [ -b "$(sbx_part "$dev" "$n")" ] || fail "$what: no partition $n on $dev"
        cmp -s "$work/p$n.md5" <(md5sum < "$(sbx_part "$dev" "$n")") || fail "$what: partition $n differs from the unit drive's"
    done
    mkdir -p "$chk_mnt"
    ntfs-3g -o ro "$(sbx_part "$dev" 3)" "$chk_mnt" || fail "$what: cannot mount the NTFS volume of $dev"
    (cd "$chk_mnt" && find . -type f -print0 | sort -z | xargs -0 md5sum) > "$work/check.md5"
    umount "$chk_mnt" || fail "cannot unmount $chk_mnt"
    if ! cmp -s "$work/files.md5" "$work/check.md5"; then
        diff "$work/files.md5" "$work/check.md5" | head -n 10 >&2
        fail "$what: the NTFS files differ from the unit drive's"
    fi
}

# Each restore starts from an empty drive that the kernel knows no partitions of.
blank_target() {
    partx -d "$dst" 2>/dev/null
    blkdiscard "$dst" 2>/dev/null || dd if=/dev/zero of="$dst" bs=1M status=none conv=fsync
    blockdev --flushbufs "$dst" 2>/dev/null
}

# ---------------------------------------------------------------- the cases

mkdir -p "$sets" || exit 1
# The engine writes a checksum list of a new set and checks it before a restore unless this file
# exists; the hand pipelines have nothing of the kind, so the engine is timed without it.
: > "$nosums"

engine() {
    env -u HDD GUI_TYPE=Q vaultine "$@"
}

# timed_engine NAME ARGS...: one timed engine run; its time goes to elapsed.
timed_engine() {
    local name=$1 start end rc
    shift
    settle
    start=$(now)
    engine "$@" > "$work/$name.out" 2>&1
    rc=$?
    end=$(now)
    engine_log "$name"
    [ $rc -eq 0 ] || engine_failed "$name" $rc
    elapsed=$((end - start))
}

engine_backup() {
    sbx_ahd "$src"
    rm -f "$image"*
    timed_engine engine-backup -b bim "$image"
}

hand_backup() {
    rm -f "$hand".*
    settle
    local start end
    start=$(now)
    (
        set -o pipefail
        sgdisk -b "$hand.gptb" "$src" > /dev/null &&
        dd bs=1M if="$p1" status=none | gzip -c > "$hand.p1.gz" &&
        dd bs=1M if="$p2" status=none | gzip -c > "$hand.p2.gz" &&
        ntfsclone --save-image -o - "$p3" | gzip -c > "$hand.p3.gz" &&
        dd bs=1M if="$p4" status=none | gzip -c > "$hand.p4.gz"
    ) 2> "$work/hand.log" || { tail -n 20 "$work/hand.log" >&2; fail "the hand backup failed"; }
    end=$(now)
    elapsed=$((end - start))
}

engine_restore() {
    sbx_ahd "$dst"
    blank_target
    timed_engine engine-restore -r bim "$image"
    verify "$dst" "engine restore"
}

hand_restore() {
    blank_target
    settle
    local start end t1 t2 t3 t4
    start=$(now)
    (
        set -o pipefail
        sgdisk -l "$hand.gptb" "$dst" > /dev/null || exit 1
        sbx_probe "$dst"
        t1=$(sbx_part "$dst" 1) t2=$(sbx_part "$dst" 2) t3=$(sbx_part "$dst" 3) t4=$(sbx_part "$dst" 4)
        gunzip -c "$hand.p1.gz" | dd of="$t1" bs=1M status=none &&
        gunzip -c "$hand.p2.gz" | dd of="$t2" bs=1M status=none &&
        gunzip -c "$hand.p3.gz" | ntfsclone --restore-image --overwrite "$t3" - > /dev/null &&
        gunzip -c "$hand.p4.gz" | dd of="$t4" bs=1M status=none
    ) 2> "$work/hand.log" || { tail -n 20 "$work/hand.log" >&2; fail "the hand restore failed"; }
    end=$(now)
    elapsed=$((end - start))
}

# The runs alternate engine and hand, so that a busy moment of the machine hits both alike; each
# case keeps its shortest time (nanoseconds). The hand restore is checked once, on the first run:
# a wrong baseline would make every ratio meaningless.
cases=(engine_backup hand_backup engine_restore hand_restore)
declare -A best
for run in $(seq "$runs"); do
    for c in "${cases[@]}"; do
        elapsed=
        "$c"
        if [ "$c" = hand_restore ] && [ "$run" -eq 1 ]; then
            verify "$dst" "hand restore"
        fi
        if [ -z "${best[$c]:-}" ] || [ "$elapsed" -lt "${best[$c]}" ]; then
            best[$c]=$elapsed
        fi
    done
done
rm -f "$nosums"

line() {
    awk -v what="$1" -v e="$2" -v h="$3" 'BEGIN {
        printf "engine %-8s %7.2f s   hand %-8s %7.2f s   ratio %.3f\n", what, e / 1e9, what, h / 1e9, e / h }'
}
line backup "${best[engine_backup]}" "${best[hand_backup]}"
line restore "${best[engine_restore]}" "${best[hand_restore]}"
r1=$(awk -v e="${best[engine_backup]}" -v h="${best[hand_backup]}" 'BEGIN { printf "%.3f\n", e / h }')
r2=$(awk -v e="${best[engine_restore]}" -v h="${best[hand_restore]}" 'BEGIN { printf "%.3f\n", e / h }')
worst=$(printf '%s\n' "$r1" "$r2" | sort -n | tail -n 1)
echo "ratio=$worst"
