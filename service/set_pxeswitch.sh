#!/bin/bash
# set_pxeswitch.sh -e|-d: switches the firmware's LAN (PXE) boot on (-e) or off (-d) through
# "pxeswitch", then reads the state back. Prints pxeswitch's own output and a last line
# "pxe: enabled" or "pxe: disabled" (the state read back, or "pxe: unknown").
# Exit status: 0 when the state read back is the one asked for, 1 when it is not, 2 on bad usage.
case "${1:-}" in
-e) want=enabled ;;
-d) want=disabled ;;
-h|--help)
    sed -n '2,5s/^# \{0,1\}//p' "$0"
    exit 0
    ;;
*)
    echo "usage: set_pxeswitch.sh -e|-d (see --help)" >&2
    exit 2
    ;;
esac

pxeswitch "$1"

word=$(pxeswitch -s 2>/dev/null | tr -d '\r' | sed '/^[[:space:]]*$/d' | tail -n 1)
word=$(printf '%s' "$word" | tr '[:upper:]' '[:lower:]' | sed 's/^[[:space:]]*//;s/[[:space:]]*$//')
case "$word" in
enabled|disabled) ;;
*) word=unknown ;;
esac
echo "pxe: $word"
[ "$word" = "$want" ]
