#!/bin/bash
# firmware_url.sh MODEL VERSION: prints the address of the firmware archive of MODEL and VERSION
# on the production server: http://SERVER/firmware/MODEL_VERSION.tar, both names percent-encoded
# (a blank, "/", "?" or "&" in a name stays part of that name).
# The server: $PXE_SERVER (the console passes its own), else the first line of /tmp/serverip,
# else what server_ip.sh prints. Exit status: 0, or 1 when no server is known, 2 on bad usage.
set -u
[ $# -eq 2 ] || { echo "usage: firmware_url.sh MODEL VERSION" >&2; exit 2; }

encode() {
    local LC_ALL=C text=$1 out="" c i
    for ((i = 0; i < ${#text}; i++)); do
        c=${text:i:1}
        case "$c" in
        [A-Za-z0-9._~-]) out+=$c ;;
        *) out+=$(printf '%%%02X' "'$c") ;;
        esac
    done
    printf '%s' "$out"
}

server=${PXE_SERVER:-}
[ -n "$server" ] || server=$(head -n 1 /tmp/serverip 2>/dev/null | tr -d '[:space:]')
[ -n "$server" ] || server=$(server_ip.sh 2>/dev/null | head -n 1 | tr -d '[:space:]')
[ -n "$server" ] || { echo "firmware_url.sh: no production server known" >&2; exit 1; }
case "$server" in *:*) server="[$server]" ;; esac
echo "http://$server/firmware/$(encode "$1")_$(encode "$2").tar"
