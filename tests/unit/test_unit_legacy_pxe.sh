#!/bin/bash
# The network-boot folder (the unit_image test built it) boots a unit whose firmware is a
# legacy BIOS with a PXE ROM, through a real PXE server on a LAN that has its own DHCP server
# (a second host on the bridge inside the unit's private network hands out the addresses;
# scripts/pxe-server, dnsmasq as proxy DHCP with TFTP, only the boot information): the ROM gets
# pxelinux.0, PXELINUX reads the unit's own MAC-named menu (its kernel words) and loads the
# kernel and both initrds by TFTP, and the console's main window shows. (The UEFI Secure Boot
# path through the server giving the addresses itself is booted by the unit_restored_boot test.)
# Prints the time from power-on to the console.
set -uo pipefail
. "$BRENLOW_TESTS/sandbox/lib.sh"
source_dir=$BRENLOW_SOURCE
netboot=${BRENLOW_NETBOOT:-}
work=$BRENLOW_SANDBOX/legacy
mkdir -p "$work"

for tool in qemu-system-x86_64 dnsmasq python3; do
    command -v "$tool" >/dev/null || sbx_skip "legacy PXE: $tool is missing (scripts/setup installs it)"
done
[ -n "$netboot" ] && [ -f "$netboot/root.img" ] ||
    sbx_skip "legacy PXE: no network-boot folder (the unit_image test builds it)"
export BRENLOW_NETBOOT=$netboot

. "$BRENLOW_TESTS/unit/unitlib.sh"

# boot_to_console NAME UNIT-OPTIONS...: boots a unit until the console's main window shows;
# prints the seconds from power-on.
boot_to_console() {
    local name=$1; shift
    "$source_dir/scripts/unit" "$@" --screenshot "$work/$name.ppm" --log "$work/$name.log" --timeout 420 \
        > "$work/$name.out" 2>&1 || { cat "$work/$name.out"; tail -n 40 "$work/$name.log"; return 1; }
    cat "$work/$name.out" >&2
    picture_check main "$work/$name.ppm" >&2 || { echo "the unit's screen does not show the console" >&2; return 1; }
    sed -n 's/.*on the screen \([0-9]*\) s after power-on.*/\1/p' "$work/$name.out"
}

# --- 1. Legacy PXE ROM, PXELINUX from the PXE server ------------------------------------------
phase "legacy boot through PXELINUX, the PXE server as proxy DHCP"
legacy_seconds=$(boot_to_console legacy --firmware bios --proxy-dhcp) || sbx_fail "the legacy unit did not show the console"
dhcp=$work/legacy-dhcp.log
grep -q 'DHCPACK(brenlow-lan1) [0-9.]* 52:54:00:12:34:56' "$work/legacy-lan-dhcp.log" ||
    sbx_fail "the LAN's DHCP server did not give the unit its address"
grep -q 'proxy on subnet' "$dhcp" && grep -q 'PXE(brenlow0) 52:54:00:12:34:56 proxy' "$dhcp" ||
    sbx_fail "the PXE server did not answer the unit as proxy DHCP"
! grep -q 'DHCPACK(brenlow0)' "$dhcp" || sbx_fail "the PXE server in proxy mode gave out an address"
grep -q 'sent .*/pxelinux.0 to ' "$dhcp" || { tail -n 30 "$dhcp"; sbx_fail "the server did not hand pxelinux.0 to the legacy ROM"; }
grep -q 'sent .*/pxelinux.cfg/01-52-54-00-12-34-56 to ' "$dhcp" || sbx_fail "PXELINUX did not read the unit's own menu"
grep -q 'sent .*/root.img to ' "$dhcp" || sbx_fail "PXELINUX did not load the root image"
! grep -q 'shimx64.efi' "$dhcp" || sbx_fail "a legacy ROM was offered the UEFI loader"
# The console's log reaches the serial line only with console=ttyS0 on the kernel command line,
# a word that only the unit's own entry carries.
grep -q 'pxe_client: Start Timer' "$work/legacy.log" || sbx_fail "the kernel did not get the unit's words, or the console did not start"
echo "legacy: the console was on the screen $legacy_seconds s after power-on"
phase_done legacy

echo "PASS: legacy (PXELINUX through the PXE server as proxy DHCP) $legacy_seconds s to the console"
