#!/bin/bash
# unit-network with real cards and a real DHCP server, without a virtual unit: a veth pair whose
# unit end (the boot card) appears in the sandbox's network seconds after the script started,
# dnsmasq answering on the other end from a network of its own. The script must wait for that
# card, not take a card that was there first, get the card its address with Debian's dhclient,
# name it in /tmp/eth and leave the lease where server_ip.sh finds the server:
#  1. BOOTIF names the late card; another card with a link is there from the start;
#  2. no BOOTIF (a boot loader that does not tell): the late card is the one with a link.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"
for tool in dhclient dnsmasq ip nsenter unshare; do
    command -v "$tool" >/dev/null || sbx_skip "unit network: $tool is missing (scripts/setup installs it)"
done
script=$BRENLOW_SOURCE/packaging/unit/unit-network
work=$BRENLOW_SANDBOX/network
mkdir -p "$work/sys" "$work/net"

# What dhclient and its script write stays in the sandbox: its pid file (/run), the lease folder,
# /etc (an overlay here). The machine's own hooks are left out: they reach its services.
mount -t tmpfs tmpfs /run && mkdir -p /var/lib/dhcp && mount -t tmpfs tmpfs /var/lib/dhcp ||
    sbx_fail "cannot make /run and /var/lib/dhcp private"
rm -f /etc/dhcp/dhclient-enter-hooks.d/* /etc/dhcp/dhclient-exit-hooks.d/*

# The unit's view of its cards: /sys/class/net of this network, where a card on a bus has a
# "device" link (a veth has none of its own, so the view adds it).
mount -t sysfs sysfs "$work/sys" && mount --bind "$work/net" /sys/class/net || sbx_fail "cannot make the cards' view"
show_card() {
    local real=$work/sys/class/net/$1
    mkdir -p "$work/net/$1"
    ln -s "$real"/* "$work/net/$1/" && ln -s "$(readlink -f "$real")" "$work/net/$1/device"
}
cmdline() { echo "$1" > "$work/cmdline"; mount --bind "$work/cmdline" /proc/cmdline; }

# The DHCP server's side: a network namespace of its own.
unshare --net sleep 300 &
server=$!
srv() { nsenter -t "$server" -n "$@"; }
net_pid= dnsmasq_pid=
trap 'kill $net_pid $dnsmasq_pid $server 2>/dev/null' EXIT

# late_card NAME PEER MAC NET: a veth pair made in the server's network; NAME (address MAC)
# moves into this one, PEER gets NET.1 and dnsmasq hands out NET.50 to NET.59 on it.
late_card() {
    srv ip link add name "$2" type veth peer name "$1" address "$3" &&
        srv ip link set "$1" netns $$ && srv ip addr add "$4.1/24" dev "$2" && srv ip link set "$2" up ||
        sbx_fail "cannot make the late card $1"
    srv dnsmasq --keep-in-foreground --conf-file=/dev/null --port=0 --user=root --bind-interfaces \
        --interface="$2" --dhcp-range="$4.50,$4.59,1h" --dhcp-leasefile="$work/$2.leases" \
        --pid-file="$work/$2.pid" --log-facility="$work/dnsmasq.log" --log-dhcp &
    dnsmasq_pid=$!
    show_card "$1"
}

# expect_dhcp CARD NET: within 40 s CARD holds an address of NET, /tmp/eth names it and
# server_ip.sh reads NET.1 from the lease.
expect_dhcp() {
    local address=
    for _ in $(seq 1 40); do
        address=$(ip -4 -o addr show dev "$1" 2>/dev/null | awk '{ print $4 }')
        [ -n "$address" ] && break
        sleep 1
    done
    cat "$work/unit-network.log"
    case "$address" in "$2".5[0-9]/24) ;; *) sbx_fail "$1 has no address from the DHCP server (has '$address')" ;; esac
    sbx_expect_eq "/tmp/eth" "$1" "$(cat /tmp/eth 2>/dev/null)"
    sbx_expect_eq "the server from the lease (server_ip.sh)" "$2.1" "$(bash "$BRENLOW_SOURCE/service/server_ip.sh")"
    echo "unit network: $1 got $address"
}

# A card on the unit from the start, with a link (its peer up).
ip link add name eth0 type veth peer name eth0peer && ip link set eth0peer up && ip link set eth0 up ||
    sbx_fail "cannot make the first card"
show_card eth0

# 1. BOOTIF names the card that comes late.
mac=02:42:0a:1a:00:26
cmdline "BOOT_IMAGE=vmlinuz boot=brenlow BOOTIF=01-${mac//:/-}"
bash "$script" > "$work/unit-network.log" 2>&1 &
net_pid=$!
sleep 4
[ ! -e /tmp/eth ] || sbx_fail "unit-network took $(cat /tmp/eth) before the boot card came"
late_card eth1 srv1 "$mac" 192.168.126
expect_dhcp eth1 192.168.126
ip -4 -o addr show dev eth0 | grep -q inet && sbx_fail "the first card got an address too"
kill "$net_pid" "$dnsmasq_pid"; wait "$net_pid" "$dnsmasq_pid" 2>/dev/null
ip link del eth1 && rm -r "$work/net/eth1" /tmp/eth /var/lib/dhcp/*

# 2. No BOOTIF: the first card has no link now (its peer down); the late one has.
ip link set eth0peer down
cmdline "BOOT_IMAGE=vmlinuz boot=brenlow"
bash "$script" > "$work/unit-network.log" 2>&1 &
net_pid=$!
sleep 4
late_card eth2 srv2 02:42:0a:1b:00:26 192.168.127
expect_dhcp eth2 192.168.127
