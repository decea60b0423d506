#!/bin/bash
# Throughput of the block copy tools against `dd bs=1M` on the same input, file to file and file
# to a pipe. Runs itself inside the test sandbox, so that xblit's status files, send log and
# datagrams stay private to the run and a running engine hears nothing.
#
# usage: bench/blockcopy.sh [MiB]     (input size, default 2048, at least 256)
# Environment: BRENLOW_BIN (the built programs; default build/bin), RUNS (best of, default 7).
# Prints one line per case, the ratios (ours/dd throughput, higher is better; 1.0 is dd's
# speed) and last `ratio=<worst of them>`.
set -u

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
mib=${1:-2048}
runs=${RUNS:-7}

if [ "$mib" -lt 256 ] 2>/dev/null; then
    echo "blockcopy bench: the input must be at least 256 MiB" >&2
    exit 2
fi

if [ -z "${BRENLOW_SANDBOX:-}" ]; then
    export BRENLOW_BIN=${BRENLOW_BIN:-$source_dir/build/bin}
    for tool in xblit zblit; do
        [ -x "$BRENLOW_BIN/$tool" ] || { echo "blockcopy bench: no $BRENLOW_BIN/$tool (build it first)" >&2; exit 2; }
    done
    exec "$source_dir/tests/sandbox/run-in-sandbox" bash "$here/$(basename "$0")" "$@"
fi

work=$(mktemp -d /tmp/blockcopy-bench.XXXXXX) || exit 1
trap 'rm -rf "$work"' EXIT
export RCV_STATUS=$work/status RCV_LOG=$work/recovery.log LOG_FILE=$work/zblit.log

blocks=$((mib * 2048))
echo "input: $mib MiB ($blocks blocks of 512 bytes) in $work, best of $runs"
head -c $((mib * 1048576)) /dev/urandom > "$work/in" || exit 1
want=$(md5sum < "$work/in")

now() { date +%s%N; }

in=$work/in out=$work/out
# The pipe's reader must cost next to nothing, or it is what gets measured.
reader="cat > /dev/null"
names=("dd bs=1M file" "xblit file" "zblit file" "dd bs=1M pipe" "xblit pipe" "zblit pipe" "xblit 0 blocks")
commands=("dd if=$in of=$out bs=1M status=none" "xblit $in $out $blocks" "zblit $in $out $blocks"
          "dd if=$in bs=1M status=none | $reader" "xblit $in - $blocks | $reader" "zblit $in - $blocks | $reader"
          "xblit $in $out 0")

# Every copy must be right before its speed counts: a copy to a file is compared with the input
# after each run, a copy to a pipe once, untimed, through md5sum.
for c in 3 4 5; do
    got=$(bash -c "${commands[$c]%|*}| md5sum" 2>/dev/null)
    [ "$got" = "$want" ] || { echo "${names[$c]}: the copy differs from the input" >&2; exit 1; }
done

# The runs go round the cases, so that a busy moment of the machine hits them all alike; each
# case keeps its shortest time (nanoseconds).
best=()
for run in $(seq "$runs"); do
    for c in "${!commands[@]}"; do
        rm -f "$out"
        sync
        start=$(now)
        bash -c "${commands[$c]}" 2>/dev/null || { echo "${names[$c]} failed" >&2; exit 1; }
        end=$(now)
        if [ "$c" -lt 3 ]; then
            got=$(md5sum < "$out")
            [ "$got" = "$want" ] || { echo "${names[$c]}: the copy differs from the input" >&2; exit 1; }
        fi
        if [ -z "${best[$c]:-}" ] || [ $((end - start)) -lt "${best[$c]}" ]; then
            best[$c]=$((end - start))
        fi
    done
done
for c in "${!commands[@]}"; do
    awk -v name="${names[$c]}" -v ns="${best[$c]}" -v mib="$mib" \
        'BEGIN { printf "%-16s %8.3f s", name, ns / 1e9
                 if (name !~ / 0 blocks/) printf "  %8.1f MiB/s", mib * 1e9 / ns
                 printf "\n" }'
done
dd_file=${best[0]} xblit_file=${best[1]} zblit_file=${best[2]}
dd_pipe=${best[3]} xblit_pipe=${best[4]} zblit_pipe=${best[5]}
# xblit's cost that does not grow with the input: start-up and the two 50 ms pauses it makes
# before it ends (they give the engine time to handle the last datagrams).
fixed=${best[6]}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", a / b }'; }
r1=$(ratio "$dd_file" "$xblit_file")
r2=$(ratio "$dd_file" "$zblit_file")
r3=$(ratio "$dd_pipe" "$xblit_pipe")
r4=$(ratio "$dd_pipe" "$zblit_pipe")
echo "xblit/dd file to file: $r1"
echo "zblit/dd file to file: $r2"
echo "xblit/dd file to pipe: $r3"
echo "zblit/dd file to pipe: $r4"
awk -v f="$fixed" -v df="$dd_file" -v xf="$xblit_file" -v dp="$dd_pipe" -v xp="$xblit_pipe" 'BEGIN {
    printf "xblit fixed cost (count 0): %.3f s; without it xblit/dd file to file: %.3f, file to pipe: %.3f\n",
           f / 1e9, df / (xf - f), dp / (xp - f) }'
worst=$(printf '%s\n' "$r1" "$r2" "$r3" "$r4" | sort -n | head -1)
echo "ratio=$worst"
