#!/bin/bash
# Builds one libFuzzer target with clang (the main build uses g++) and runs it for a bounded time
# on seeds made by the real tools. Fails on a crash, a hang, a leak or any sanitizer report.
#
# usage: run-fuzz.sh gpt|mbr|gptinspect WORKDIR SECONDS
set -u
target=$1 work=$2 seconds=${3:-60}
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)
. "$here/../sandbox/lib.sh"
command -v clang++ >/dev/null || sbx_skip "clang++ is missing (packages clang, libclang-rt-14-dev): fuzz_$target cannot be built"

case "$target" in
    gpt)        sources=("$source/engine/gptlayout.cpp"); maxlen=20000 ;;
    mbr)        sources=("$source/engine/mbrlayout.cpp"); maxlen=70000 ;;
    gptinspect) sources=("$source/engine/gptlayout.cpp" "$source/tools/gptinspect/gptinspector.cpp"); maxlen=20000 ;;
    *) echo "unknown target $target" >&2; exit 2 ;;
esac

mkdir -p "$work" || exit 1
binary=$work/fuzz_$target
newest=$(ls -t "$here/fuzz_$target.cpp" "${sources[@]}" "$source"/engine/*layout.h "$source/tools/gptinspect/gptinspector.h" "$0" | head -n 1)
if [ ! -x "$binary" ] || [ "$newest" -nt "$binary" ]; then
    clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$source/engine" -I"$source/tools/gptinspect" \
        "$here/fuzz_$target.cpp" "${sources[@]}" -o "$binary.new" || { echo "FAIL: cannot build $binary"; exit 1; }
    mv "$binary.new" "$binary"
fi

# Seeds: real tables made by sgdisk and sfdisk on small image files, and the hostile cases.
seeds=$work/seeds-$target
corpus=$work/corpus-$target
rm -rf "$seeds"; mkdir -p "$seeds" "$corpus"
img=$work/seed-$target.img   # one per target: the targets run side by side
case "$target" in
    gpt|gptinspect)
        rm -f "$img"; truncate -s 64M "$img"
        sgdisk -o -n 1:2048:+8M -t 1:EF00 -n 2:0:+2M -t 2:0C01 -n 3:0:+40M -t 3:0700 -c 3:Data -n 4:0:0 -t 4:2700 "$img" >/dev/null || exit 1
        sgdisk -b "$seeds/table.gptb" "$img" >/dev/null || exit 1
        dd if="$img" of="$seeds/table.raw" bs=512 count=34 status=none
        # 32 entries with entry 2 left empty, in both forms
        sgdisk -o -S 32 -n 1:2048:+8M -t 1:EF00 -n 3:0:+8M -t 3:0700 "$img" >/dev/null || exit 1
        sgdisk -b "$seeds/short-array.gptb" "$img" >/dev/null || exit 1
        dd if="$img" of="$seeds/short-array.raw" bs=512 count=34 status=none
        # a header claiming 2^32-1 entries in a short buffer
        head -c 2000 "$seeds/table.gptb" > "$seeds/claims-too-many"
        printf '\377\377\377\377' | dd of="$seeds/claims-too-many" bs=1 seek=1104 conv=notrunc status=none
        printf '\377\377\377\377' | dd of="$seeds/claims-too-many" bs=1 seek=592 conv=notrunc status=none
        ;;
    mbr)
        rm -f "$img"; truncate -s 64K "$img"
        printf 'start=2,size=10,type=83\nstart=20,size=100,type=5\nstart=24,size=10,type=83\nstart=40,size=10,type=7\nstart=60,size=10,type=82\n' |
            sfdisk -q "$img" >/dev/null 2>&1 || exit 1
        cp "$img" "$seeds/logicals.img"
        # the same chain with its last link pointing back to the second record (a loop): sfdisk
        # puts the records of this script at sectors 20, 39 and 59
        cp "$img" "$seeds/loop.img"
        printf '\023\000\000\000\012\000\000\000' | dd of="$seeds/loop.img" bs=1 seek=$(( 59 * 512 + 462 + 8 )) conv=notrunc status=none
        printf '\005' | dd of="$seeds/loop.img" bs=1 seek=$(( 59 * 512 + 462 + 4 )) conv=notrunc status=none
        ;;
esac
rm -f "$img"

log=$work/fuzz-$target.log
"$binary" -max_total_time="$seconds" -max_len=$maxlen -timeout=10 -rss_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$work/crash-$target-" "$corpus" "$seeds" > "$log" 2>&1
rc=$?
tail -n 15 "$log"
if [ $rc -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|libFuzzer)|runtime error:|SUMMARY: ' "$log"; then
    echo "FAIL: fuzz_$target found a fault (exit $rc); see $log and $work/crash-$target-*"
    exit 1
fi
grep -q 'Done [0-9]* runs' "$log" || { echo "FAIL: fuzz_$target did not finish its run"; exit 1; }
echo "fuzz_$target: no crash, hang or sanitizer report in ${seconds}s"
exit 0
