#!/bin/bash
# get_pxeswitch.sh: prints the firmware's LAN (PXE) boot state, read through "pxeswitch -s".
#   line 1: "state: WORD"  where WORD is "unknown" when no setup tool could tell
#   line 2: "pxe: enabled" or "pxe: disabled"
# The console takes line 1 containing "unknown" as "state undetermined" and line 2 containing
# "enabled" as "LAN boot on". Exit status: 0 when the state is known, 1 when it is not.
case "${1:-}" in
-h|--help)
    sed -n '2,7s/^# \{0,1\}//p' "$0"
    exit 0
    ;;
"") ;;
*)
    echo "get_pxeswitch.sh: takes no arguments (see --help)" >&2
    exit 2
    ;;
esac

# pxeswitch prints its errors on standard output too; the state word is its last line.
word=$(pxeswitch -s 2>/dev/null | tr -d '\r' | sed '/^[[:space:]]*$/d' | tail -n 1)
word=$(printf '%s' "$word" | tr '[:upper:]' '[:lower:]' | sed 's/^[[:space:]]*//;s/[[:space:]]*$//')
# Only a single state word counts; a message in its place means the state was not read.
case "$word" in
""|*" "*) word=unknown ;;
esac

echo "state: $word"
if [ "$word" = enabled ]; then
    echo "pxe: enabled"
else
    echo "pxe: disabled"
fi
[ "$word" != unknown ]
