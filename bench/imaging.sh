#!/bin/bash
# Wall time of the engine's compressed backup and restore of a unit's system drive against what a
# technician would type by hand for the same drive, in the same run: the engine's gzip sets against
# the hand pipelines with gzip (what a bare machine has) and with pigz (what the engine itself uses
# where installed), and its zstd sets (IMAGE_CODEC=zstd) against the same pipelines typed with
# zstd -T0 -3:
#   backup:  sgdisk -b of the table, dd | gzip of partitions 1, 2 and 4, ntfsclone --save-image |
#            gzip of the NTFS partition 3, then md5sum of the set's files into its checksum list
#            (the engine writes one too);
#   restore: md5sum -c of that list first (the engine checks its list before it writes the drive),
#            sgdisk -l and a partition probe, gunzip | dd for partitions 1, 2 and 4, gunzip |
#            ntfsclone --restore-image for partition 3, and a sync: the engine reports a restore
#            only once its writes are on the drive (its block copies flush before they end), so
#            the hand restore's time counts its writes to the drive too, not only to the cache.
# The unit drive is a virtual GPT drive of 2 GiB (EFI, MS-Reserved, NTFS, MS-Recovery) holding
# about 500 MB of mixed data: random bytes (media, caches, the recovery image) and real program
# binaries and libraries. It is restored onto a second drive of the same size. Every engine
# restore is compared with the source (partitions 1, 2, 4 by md5, the NTFS files one by one)
# before its time counts; the hand restores are checked on the first run. The cases alternate
# (engine, hand with gzip, hand with pigz, engine with zstd, hand with zstd) so that a busy moment
# of the machine hits all alike, and each keeps its best time.
# Last, the engine's fixed cost per run: a backup and a restore of a 64 MiB drive of the same
# layout whose partitions are nearly empty, next to the hand pipelines with gzip on it.
# Runs itself inside the test sandbox, so that the engine's logs, status files, lock and drives
# stay private to the run.
#
# usage: bench/imaging.sh     (as root; about ten minutes with the default RUNS on 2 cores)
# Environment: BRENLOW_BIN (the built programs; default build/bin), RUNS (best of, default 3),
#   KEEP_LOGS (a folder outside the sandbox: the engine's output and debug logs of the last run of
#   each case are copied there).
# Prints one line per comparison (best wall time of engine and hand, and the ratio engine/hand:
# lower is better, 1.0 is the hand pipeline's speed), the zstd goals (backup at most 0.3 of the
# hand gzip pipelines and 1.15 of the hand zstd ones, restore at most 1.15 of the hand zstd
# restore), the sizes of the engine's gzip and zstd sets, the fixed cost, and last
# `ratio=<the largest ratio of the engine against the hand pipelines of its own codec>`.
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
    for tool in sgdisk mkdosfs mkntfs ntfs-3g ntfsclone partprobe gzip pigz zstd md5sum blkdiscard; do
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
zimage=$sets/z.bim
hand=$sets/hand
src_mnt=/mnt/bench-src
chk_mnt=/mnt/bench-chk
work=$(mktemp -d /tmp/imaging-bench.XXXXXX) || exit 1

cleanup() {
    for m in "$chk_mnt" "$src_mnt"; do
        mountpoint -q "$m" && { umount "$m" 2>/dev/null || fusermount -u "$m" 2>/dev/null; }
        rmdir "$m" 2>/dev/null
    done
    rm -f "$image"* "$zimage"* "$hand".*
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

# ---------------------------------------------------------------- the drives

# make_unit DEV: the unit's layout on DEV (EFI, MS-Reserved, NTFS, 1/8 of the drive as recovery).
make_unit() {
    local dev=$1 recovery
    recovery=$(($(blockdev --getsize64 "$dev") / 8 / 1048576))
    sbx_gpt "$dev" -n 1:0:+"$2" -t 1:ef00 -c 1:EFI -n 2:0:+16M -t 2:0c01 -c 2:MSR \
        -n 3:0:-"${recovery}M" -t 3:0700 -c 3:Windows -n 4:0:0 -t 4:2700 -c 4:Recovery || fail "cannot partition $dev"
    for n in 1 2 3 4; do
        [ -b "$(sbx_part "$dev" "$n")" ] || fail "no node for partition $n of $dev"
    done
    mkdosfs -F 32 -n SYSTEM "$(sbx_part "$dev" 1)" > /dev/null || fail "mkdosfs on $dev failed"
    mkntfs -Q -F -L Windows "$(sbx_part "$dev" 3)" > /dev/null 2>&1 || fail "mkntfs on $dev failed"
}

src=$(sbx_drive unit 2G) || fail "cannot make the unit drive"
dst=$(sbx_drive target 2G) || fail "cannot make the target drive"
make_unit "$src" 100M
p1=$(sbx_part "$src" 1) p2=$(sbx_part "$src" 2) p3=$(sbx_part "$src" 3) p4=$(sbx_part "$src" 4)

# A recovery partition is mostly a packed image: its start gets random bytes, the rest stays zero.
head -c $((80 * 1048576)) /dev/urandom | dd of="$p4" bs=1M status=none conv=fsync || fail "cannot fill $p4"
# About 420 MB on the NTFS volume: half random (media, caches), half real binaries and libraries
# of this machine, in files from a few KiB to 40 MiB; the boot files on the EFI partition.
mkdir -p "$src_mnt" || exit 1
ntfs-3g "$p3" "$src_mnt" || fail "cannot mount $p3 with ntfs-3g"
mkdir -p "$src_mnt/media" "$src_mnt/cache" "$src_mnt/Program Files" || fail "cannot write to $src_mnt"
for i in 1 2 3 4; do
    head -c $((40 * 1048576)) /dev/urandom > "$src_mnt/media/video$i.bin" || fail "cannot fill $src_mnt"
done
for i in $(seq 100); do
    head -c $(((i % 8 + 1) * 65536)) /dev/urandom > "$src_mnt/cache/blob$i.dat" || fail "cannot fill $src_mnt"
done
find /usr/lib/x86_64-linux-gnu /usr/bin /usr/libexec /usr/sbin -type f -size +64k 2>/dev/null | sort |
    awk -v limit=$((220 * 1048576)) '{ cmd = "stat -c %s \"" $0 "\""; cmd | getline size; close(cmd);
                                       if (total + size > limit) exit; total += size; print }' |
    while read -r f; do
        d="$src_mnt/Program Files$(dirname "$f")"
        mkdir -p "$d" && cp "$f" "$d/" || exit 1
    done || fail "cannot copy binaries to $src_mnt"
used=$(du -sm --apparent-size "$src_mnt" | cut -f1)
files=$(find "$src_mnt" -type f | wc -l)
(cd "$src_mnt" && find . -type f -print0 | sort -z | xargs -0 md5sum) > "$work/files.md5" || fail "cannot read $src_mnt"
umount "$src_mnt" || fail "cannot unmount $src_mnt"
MTOOLS_SKIP_CHECK=1 mmd -i "$p1" ::/EFI ::/EFI/Boot 2>/dev/null
head -c $((2 * 1048576)) /dev/urandom > "$work/bootx64.efi"
MTOOLS_SKIP_CHECK=1 mcopy -i "$p1" "$work/bootx64.efi" ::/EFI/Boot/ 2>/dev/null
for n in 1 2 4; do
    md5sum < "$(sbx_part "$src" "$n")" > "$work/p$n.md5" || fail "cannot read partition $n of $src"
done
echo "unit drive: $src (2 GiB GPT, $used MiB in $files files on NTFS, 80 MiB random on the recovery partition), target $dst, best of $runs"

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
blank() {
    partx -d "$1" 2>/dev/null
    blkdiscard "$1" 2>/dev/null || dd if=/dev/zero of="$1" bs=1M status=none conv=fsync
    blockdev --flushbufs "$1" 2>/dev/null
}

# ---------------------------------------------------------------- the cases

mkdir -p "$sets" || exit 1
rm -f /tmp/.nosums

# codec: the IMAGE_CODEC of the engine's runs (empty: the default, gzip).
codec=
engine() {
    env -u HDD GUI_TYPE=Q IMAGE_CODEC="$codec" vaultine "$@"
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

# engine_backup SOURCE NAME [SET] / engine_restore TARGET NAME [SET]: the set $image, or SET.
engine_backup() {
    local set=${3:-$image}
    sbx_ahd "$1"
    rm -f "$set"*
    timed_engine "$2" -b bim "$set"
    [ -s "$set.sums" ] || fail "$2 wrote no checksum list"
}

engine_restore() {
    sbx_ahd "$1"
    blank "$1"
    timed_engine "$2" -r bim "${3:-$image}"
    grep -q "Image files verified" "$work/$2.out" || fail "$2 did not check the set's checksum list"
}

# hand_backup SOURCE ZIP: the set $hand.* made with ZIP (gzip, pigz or zstd with its options),
# and its checksum list.
hand_backup() {
    local dev=$1 zip=$2 start end
    rm -f "$hand".*
    settle
    start=$(now)
    (
        set -o pipefail
        sgdisk -b "$hand.gptb" "$dev" > /dev/null &&
        dd bs=1M if="$(sbx_part "$dev" 1)" status=none | $zip -c > "$hand.p1.gz" &&
        dd bs=1M if="$(sbx_part "$dev" 2)" status=none | $zip -c > "$hand.p2.gz" &&
        ntfsclone --save-image -o - "$(sbx_part "$dev" 3)" | $zip -c > "$hand.p3.gz" &&
        dd bs=1M if="$(sbx_part "$dev" 4)" status=none | $zip -c > "$hand.p4.gz" &&
        cd "$sets" && md5sum hand.gptb hand.p?.gz > hand.md5
    ) 2> "$work/hand.log" || { tail -n 20 "$work/hand.log" >&2; fail "the hand backup with $zip failed"; }
    end=$(now)
    elapsed=$((end - start))
}

# hand_restore TARGET UNZIP: the checksum list first, then the table and the partitions.
hand_restore() {
    local dev=$1 unzip=$2 start end
    blank "$dev"
    settle
    start=$(now)
    (
        set -o pipefail
        (cd "$sets" && md5sum -c --quiet hand.md5) || exit 1
        sgdisk -l "$hand.gptb" "$dev" > /dev/null || exit 1
        sbx_probe "$dev"
        $unzip -c "$hand.p1.gz" | dd of="$(sbx_part "$dev" 1)" bs=1M status=none &&
        $unzip -c "$hand.p2.gz" | dd of="$(sbx_part "$dev" 2)" bs=1M status=none &&
        $unzip -c "$hand.p3.gz" | ntfsclone --restore-image --overwrite "$(sbx_part "$dev" 3)" - > /dev/null &&
        $unzip -c "$hand.p4.gz" | dd of="$(sbx_part "$dev" 4)" bs=1M status=none &&
        sync
    ) 2> "$work/hand.log" || { tail -n 20 "$work/hand.log" >&2; fail "the hand restore with $unzip failed"; }
    end=$(now)
    elapsed=$((end - start))
}

declare -A best
keep() {
    if [ -z "${best[$1]:-}" ] || [ "$elapsed" -lt "${best[$1]}" ]; then
        best[$1]=$elapsed
    fi
}

# Each engine restore is checked before its time counts; each hand restore on the first run (a
# wrong baseline would make every ratio meaningless).
for run in $(seq "$runs"); do
    engine_backup "$src" engine-backup; keep engine_backup
    hand_backup "$src" gzip; keep gzip_backup
    hand_restore "$dst" "gzip -d"; keep gzip_restore
    [ "$run" -eq 1 ] && verify "$dst" "hand restore with gzip"
    hand_backup "$src" pigz; keep pigz_backup
    engine_restore "$dst" engine-restore
    verify "$dst" "engine restore"
    keep engine_restore
    hand_restore "$dst" "pigz -d"; keep pigz_restore
    [ "$run" -eq 1 ] && verify "$dst" "hand restore with pigz"

    codec=zstd
    engine_backup "$src" zstd-backup "$zimage"; keep zstd_engine_backup
    codec=
    grep -q "compressed with zstd" "$work/zstd-backup.out" || fail "the zstd backup did not say it wrote zstd"
    head -c 4 "$(ls "$zimage".p3* | head -n 1)" | cmp -s - <(printf '\x28\xb5\x2f\xfd') ||
        fail "the zstd backup's NTFS image is no zstd stream"
    hand_backup "$src" "zstd -q -T0 -3"; keep zstd_backup
    engine_restore "$dst" zstd-restore "$zimage"
    verify "$dst" "engine restore of the zstd set"
    keep zstd_engine_restore
    hand_restore "$dst" "zstd -q -d"; keep zstd_restore
    [ "$run" -eq 1 ] && verify "$dst" "hand restore with zstd"
done

# set_size STEM: the bytes of every file of the set, checksum list and listing included.
set_size() {
    find "$sets" -maxdepth 1 -type f -name "$(basename "$1")*" -printf '%s\n' |
        awk '{ t += $1 } END { printf "%.1f MiB (%d bytes)", t / 1048576, t }'
}
gzip_set_size=$(set_size "$image")
zstd_set_size=$(set_size "$zimage")

# The fixed cost: the same layout on 64 MiB, nothing in its partitions but their file systems.
small=$(sbx_drive small 64M) || fail "cannot make the small drive"
small_dst=$(sbx_drive small-target 64M) || fail "cannot make the small target drive"
make_unit "$small" 16M
for run in $(seq "$runs"); do
    engine_backup "$small" fixed-backup; keep fixed_engine_backup
    engine_restore "$small_dst" fixed-restore; keep fixed_engine_restore
    hand_backup "$small" gzip; keep fixed_gzip_backup
    hand_restore "$small_dst" "gzip -d"; keep fixed_gzip_restore
done

ratio() {
    awk -v e="$1" -v h="$2" 'BEGIN { printf "%.3f", e / h }'
}
line() {
    awk -v what="$1" -v e="$2" -v h="$3" -v zip="$4" 'BEGIN {
        printf "engine %-8s %7.2f s   hand %-4s %-8s %7.2f s   ratio %.3f\n", what, e / 1e9, zip, what, h / 1e9, e / h }'
}
line backup "${best[engine_backup]}" "${best[gzip_backup]}" gzip
line restore "${best[engine_restore]}" "${best[gzip_restore]}" gzip
line backup "${best[engine_backup]}" "${best[pigz_backup]}" pigz
line restore "${best[engine_restore]}" "${best[pigz_restore]}" pigz
echo "zstd sets (IMAGE_CODEC=zstd) against the hand pipelines with zstd -T0 -3:"
line backup "${best[zstd_engine_backup]}" "${best[zstd_backup]}" zstd
line restore "${best[zstd_engine_restore]}" "${best[zstd_restore]}" zstd
# goal WHAT ENGINE HAND LIMIT: the ratio and whether it is within the goal.
goal() {
    awk -v what="$1" -v e="$2" -v h="$3" -v limit="$4" 'BEGIN {
        printf "goal: %-34s ratio %.3f (at most %.2f: %s)\n", what, e / h, limit, e / h <= limit ? "met" : "MISSED" }'
}
goal "zstd backup / hand gzip backup" "${best[zstd_engine_backup]}" "${best[gzip_backup]}" 0.3
goal "zstd backup / hand zstd backup" "${best[zstd_engine_backup]}" "${best[zstd_backup]}" 1.15
goal "zstd restore / hand zstd restore" "${best[zstd_engine_restore]}" "${best[zstd_restore]}" 1.15
echo "set sizes of the unit drive: gzip set $gzip_set_size, zstd set $zstd_set_size"
awk -v eb="${best[fixed_engine_backup]}" -v er="${best[fixed_engine_restore]}" \
    -v hb="${best[fixed_gzip_backup]}" -v hr="${best[fixed_gzip_restore]}" 'BEGIN {
    printf "fixed cost per run (64 MiB drive, nearly empty partitions): engine backup %.2f s + restore %.2f s = %.2f s;", eb / 1e9, er / 1e9, (eb + er) / 1e9
    printf " hand with gzip %.2f s + %.2f s = %.2f s\n", hb / 1e9, hr / 1e9, (hb + hr) / 1e9 }'
worst=$(printf '%s\n' "$(ratio "${best[engine_backup]}" "${best[gzip_backup]}")" \
    "$(ratio "${best[engine_restore]}" "${best[gzip_restore]}")" \
    "$(ratio "${best[engine_backup]}" "${best[pigz_backup]}")" \
    "$(ratio "${best[engine_restore]}" "${best[pigz_restore]}")" \
    "$(ratio "${best[zstd_engine_backup]}" "${best[zstd_backup]}")" \
    "$(ratio "${best[zstd_engine_restore]}" "${best[zstd_restore]}")" | sort -n | tail -n 1)
echo "ratio=$worst"
