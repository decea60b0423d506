#!/bin/bash
# server_ip.sh: prints the production (PXE) server's address as the unit's network boot told it:
# the server field of the kernel's "ip=" word (ip=CLIENT:SERVER:GATEWAY:NETMASK..., as the boot
# loader appends it), else the DHCP server of the unit's lease. Prints nothing when neither is
# known. Exit status: 0.
for word in $(cat /proc/cmdline 2>/dev/null); do
    case "$word" in
    ip=*:*)
        server=$(printf '%s' "${word#ip=}" | cut -d: -f2)
        ;;
    esac
done
if [ -z "${server:-}" ]; then
    for lease in /var/lib/dhcp/dhclient*.leases /var/lib/dhclient/*.lease*; do
        [ -f "$lease" ] || continue
        found=$(sed -n 's/.*option dhcp-server-identifier \([^;]*\);.*/\1/p' "$lease" | tail -n 1)
        [ -n "$found" ] && server=$found
    done
fi
[ -n "${server:-}" ] && echo "$server"
exit 0
