#!/bin/bash
# The whole service loop on a UEFI unit with Secure Boot, ending with the proof that counts: the
# restored drive boots.
#  1. A source drive holds a small bootable system on its EFI partition (Debian's signed shim,
#     GRUB and kernel, and an initramfs that prints a known line on the serial port and powers
#     off) beside the NTFS data partition; the engine backs it up onto a FAT32 stick.
#  2. A unit with a blank drive and fresh UEFI variables (network boot first) boots through the
#     PXE server with auto-restore-reboot: the console deploys the stick's set and reboots.
#  3. The unit boots over the network again (its boot order still says so) through shim, GRUB
#     and the signed kernel to the console's main window, with Secure Boot on (the kernel says so
#     and locks itself down); in the console's service terminal the technician opens pxeswitch's
#     window and picks the drive's boot entry on its UEFI page: the real efibootmgr rewrites
#     OVMF's boot order.
#  4. The unit's next power-on starts the restored system from its own drive: the known line
#     appears, and the PXE server heard nothing from the unit.
# Each phase prints its time, and the service boot its time from power-on to the console.
set -uo pipefail
. "$BRENLOW_TESTS/sandbox/lib.sh"
source_dir=$BRENLOW_SOURCE
netboot=${BRENLOW_NETBOOT:-}
work=$BRENLOW_SANDBOX/loop
mkdir -p "$work"
KNOWN_LINE="restored system: booted from the unit's own drive"

for tool in qemu-system-x86_64 dnsmasq mkfs.vfat mcopy mmd gcc cpio python3; do
    command -v "$tool" >/dev/null || sbx_skip "restored boot: $tool is missing (scripts/setup installs it)"
done
shim=/usr/lib/shim/shimx64.efi.signed grub=/usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed
for file in "$shim" "$grub" /usr/share/OVMF/OVMF_CODE_4M.ms.fd; do
    [ -f "$file" ] || sbx_skip "restored boot: $file is missing (scripts/setup installs shim-signed, grub-efi-amd64-signed, ovmf)"
done
[ -n "$netboot" ] && [ -f "$netboot/vmlinuz" ] ||
    sbx_skip "restored boot: no network-boot folder (the unit_image test builds it)"
export BRENLOW_NETBOOT=$netboot MTOOLS_SKIP_CHECK=1

. "$BRENLOW_TESTS/unit/unitlib.sh"
unit_log_lines='pxe_client: \|pxeswitch\|Boot'
trap unit_stop EXIT

# --- 1. The source drive and its backup ------------------------------------------------------
phase "source drive with a bootable EFI partition, backed up to a stick"
# The small system: a static init that prints the known line and powers the machine off.
mkdir -p "$work/initramfs/dev"
cat > "$work/init.c" <<EOF
#include <stdio.h>
#include <sys/reboot.h>
#include <unistd.h>
int main(void)
{
    printf("\n%s\n", "$KNOWN_LINE");
    fflush(stdout);
    sync();
    reboot(RB_POWER_OFF);
    return 1;
}
EOF
gcc -static -Os -o "$work/initramfs/init" "$work/init.c" || sbx_fail "cannot build the small system's init"
mknod "$work/initramfs/dev/console" c 5 1
(cd "$work/initramfs" && find . | cpio -o -H newc --quiet) > "$work/initrd.img"
# GRUB (signed, from the removable path, after shim) reads its menu from EFI/debian.
printf 'set timeout=0\nlinux /vmlinuz console=ttyS0 panic=-1\ninitrd /initrd.img\nboot\n' > "$work/grub.cfg"

src=$(sbx_drive source 1G)
sbx_gpt "$src" -n 1:2048:+100M -t 1:ef00 -c 1:EFI -n 2:0:+16M -t 2:0c01 -c 2:Reserved \
    -n 3:0:0 -t 3:0700 -c 3:Data || sbx_fail "source table"
esp=$(sbx_part "$src" 1)
mkdosfs -F 32 -n EFI "$esp" >/dev/null || sbx_fail "mkdosfs"
mmd -i "$esp" ::/EFI ::/EFI/BOOT ::/EFI/debian || sbx_fail "mmd"
mcopy -i "$esp" "$shim" ::/EFI/BOOT/BOOTX64.EFI && mcopy -i "$esp" "$grub" ::/EFI/BOOT/grubx64.efi &&
    mcopy -i "$esp" "$work/grub.cfg" ::/EFI/debian/grub.cfg &&
    mcopy -i "$esp" "$netboot/vmlinuz" ::/vmlinuz && mcopy -i "$esp" "$work/initrd.img" ::/initrd.img ||
    sbx_fail "cannot fill the EFI partition"
mkntfs -Q -q -L Data "$(sbx_part "$src" 3)" || sbx_fail "mkntfs"
mkdir -p "$work/fill" && ntfs-3g "$(sbx_part "$src" 3)" "$work/fill" || sbx_fail "ntfs-3g"
mkdir -p "$work/fill/Users/Technician" && seq 1 100000 > "$work/fill/Users/Technician/numbers.txt"
fusermount -u "$work/fill"

stick_with_set "$src" bootable
phase_done source

# --- 2. PXE boot with a blank drive, automatic restore -----------------------------------------
# The unit has 768 MiB, the least this path was seen to boot with (with 512 MiB, GRUB runs out of
# memory loading the root image): the restore proves the service environment works in it.
phase "UEFI unit with a blank drive and 768 MiB: network boot, automatic restore, reboot"
drive=$work/unit.img
truncate -s 2G "$drive"
unit --firmware uefi-secure --pxe-server --memory 768 --drive "$drive" --stick "$stick" --log "$work/restore.log" \
    --timeout 600 auto-restore-reboot || { tail -n 40 "$work/restore.log"; sbx_fail "the unit did not end by itself after the restore"; }
grep -q 'pxe_client: vaultine -d bim /mnt/usb/images/bootable.bim' "$work/restore.log" ||
    sbx_fail "the console did not deploy the stick's set"
grep -q 'reboot: Restarting system' "$work/restore.log" || sbx_fail "the unit did not reboot after the restore"
[ -f "$drive.uefi-secure-vars" ] || sbx_fail "the unit's UEFI variables were not kept beside its drive"
phase_done restore

# --- 3. Network boot again; pxeswitch puts the drive's entry first -----------------------------
phase "service boot with Secure Boot: pxeswitch's UEFI page puts the drive first"
log=$work/service.log
# loglevel=7: the kernel's informational lines (Secure Boot's among them) reach the serial line.
unit_start "$log" --firmware uefi-secure --pxe-server --drive "$drive" --timeout 600 loglevel=7 > "$work/service.out" 2>&1
wait_for 420 'pxe_client: Start Timer' || unit_fail "the unit did not boot over the network to the console"
limit=$(( $(date +%s) + 120 ))
until screen "$work/main.ppm" && picture_check main "$work/main.ppm" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$limit" ] || { picture_check main "$work/main.ppm"; unit_fail "the console's main window is not on the screen"; }
    sleep 2
done
secure_seconds=$(( $(date +%s) - phase_started ))
echo "uefi-secure: the console's main window was on the screen $secure_seconds s after the unit started"
for file in shimx64.efi grubx64.efi grub/grub.cfg "grub/units/52:54:00:12:34:56.cfg" vmlinuz initrd.img root.img; do
    grep -q "sent .*/www/$file to " "$work/service-dhcp.log" || unit_fail "the unit did not load $file from the PXE server"
done
! grep -q 'sent .*/pxelinux.0 to ' "$work/service-dhcp.log" || unit_fail "UEFI firmware was given the legacy loader"
grep -aq 'secureboot: Secure boot enabled' "$log" ||
    unit_fail "the kernel does not say Secure Boot is on"
grep -aq 'Kernel is locked down from EFI Secure Boot' "$log" || unit_fail "the kernel is not locked down under Secure Boot"
grep -aq 'Command line:.*boot=brenlow.*console=ttyS0 loglevel=7' "$log" || unit_fail "the kernel did not get the unit's words"
# The service terminal (the menu's last row) behind its password.
rows=$(picture_check button "$work/main.ppm" 99 2>&1 | sed -n 's/.*only \([0-9]*\) buttons.*/\1/p')
press_row "${rows:-0}" "$work/main.ppm" || unit_fail "no password box after pressing Terminal"
# The password box is in the middle of the screen; without a window manager the keyboard
# follows the pointer, which stays there, over the terminal, from now on.
qmp click:500,348 sleep:1 type:quindrel key:ret >/dev/null
# terminal_shown PPM: the terminal's white page fills the middle of the screen.
terminal_shown() {
    python3 - "$1" <<'PY'
import sys
header, size, depth, pixels = open(sys.argv[1], 'rb').read().split(b'\n', 3)
width = int(size.split()[0])
box = [pixels[(y * width + x) * 3:(y * width + x) * 3 + 3] for y in range(100, 640, 8) for x in range(80, 900, 8)]
sys.exit(0 if sum(p == b'\xff\xff\xff' for p in box) > len(box) * 8 // 10 else 1)
PY
}
limit=$(( $(date +%s) + 60 ))
until screen "$work/terminal.ppm" && terminal_shown "$work/terminal.ppm"; do
    [ "$(date +%s)" -lt "$limit" ] || unit_fail "no terminal after the password"
    sleep 1
done
# term_run COMMAND: runs COMMAND in the service terminal under script, whose record (the output
# between "Script started" and "Script done") goes to /dev/console, the serial line, where this
# test reads it; returns once the command has ended. Each command waits for the one before:
# keys typed while script runs go to its command, not to the shell. A command line typed before
# the shell took the keyboard is lost: it is typed again.
term_runs=0
term_run() {
    local attempt limit
    term_runs=$(( term_runs + 1 ))
    for attempt in 1 2 3; do
        qmp "type:script -q -c $1 /dev/console" key:ret >/dev/null
        limit=$(( $(date +%s) + 30 ))
        until [ "$(grep -ac 'Script started on' "$log")" -ge $term_runs ]; do
            [ "$(date +%s)" -lt "$limit" ] || continue 2
            sleep 1
        done
        limit=$(( $(date +%s) + 60 ))
        until [ "$(grep -ac 'COMMAND_EXIT_CODE=' "$log")" -ge $term_runs ]; do
            [ "$(date +%s)" -lt "$limit" ] || return 1
            sleep 1
        done
        return 0
    done
    return 1
}
# term_output N: what the N-th command printed.
term_output() {
    tr -d '\r' < "$log" | awk -v n="$1" '/Script started on/ { run++; next } /Script done on/ && run == n { exit } run == n'
}
term_run free || unit_fail "the service terminal did not run free (nothing on the serial line)"
term_output 1 | head -n 2   # the unit's memory (KiB) with the console running, as the README quotes it
term_run efibootmgr || unit_fail "efibootmgr did not answer in the service terminal"
term_output 2 | grep '^Boot' > "$work/before.txt"
cat "$work/before.txt"
disk=$(sed -n 's/^Boot\([0-9A-F]\{4\}\)\* .*QEMU HARDDISK.*/\1/p' "$work/before.txt" | head -n 1)
[ -n "$disk" ] || unit_fail "OVMF lists no entry for the unit's drive"
order=$(sed -n 's/^BootOrder: //p' "$work/before.txt")
[ "${order%%,*}" != "$disk" ] || unit_fail "the drive is first already: nothing would prove pxeswitch's change"

# pxeswitch's window: its "UEFI Boot" page, the "First Boot Option" list moved from the current
# entry to the drive's, then OK. Without a window manager the window sits at the screen's top
# left with the size its form gives it, so its list and buttons are where the form puts them.
# pxeswitch_shown PPM: the window is there: the band between its Refresh and OK buttons is Qt's
# own grey (the window has no style sheet; the terminal behind it is white, the console blue-grey).
pxeswitch_shown() {
    python3 - "$1" <<'PY'
import sys
header, size, depth, pixels = open(sys.argv[1], 'rb').read().split(b'\n', 3)
width = int(size.split()[0])
band = [pixels[(y * width + x) * 3:(y * width + x) * 3 + 3] for y in range(292, 302, 2) for x in range(100, 380, 4)]
sys.exit(0 if sum(p == bytes((239, 239, 239)) for p in band) >= len(band) * 9 // 10 else 1)
PY
}
qmp 'type:pxeswitch -g' key:ret >/dev/null
limit=$(( $(date +%s) + 120 ))
until screen "$work/pxeswitch.ppm" && pxeswitch_shown "$work/pxeswitch.ppm"; do
    [ "$(date +%s)" -lt "$limit" ] || unit_fail "pxeswitch's window did not show"
    sleep 2
done
sleep 3
read -r ux uy < <(picture_check find "$work/pxeswitch.ppm" UEFI Boot) || unit_fail "pxeswitch's window shows no UEFI Boot page"
qmp click:$ux,$uy >/dev/null
wait_text 60 "$work/pxeswitch-uefi.ppm" First Boot Option >/dev/null || unit_fail "pxeswitch's UEFI Boot page did not open"
# The list holds the active entries in number order; the current entry is selected.
names=$(grep '^Boot00[0-9A-F][0-9A-F]\*' "$work/before.txt" | sed 's/^Boot\(....\)\* .*/\1/')
current=$(sed -n 's/^BootCurrent: //p' "$work/before.txt")
from=$(echo "$names" | grep -n "^$current\$" | cut -d: -f1)
to=$(echo "$names" | grep -n "^$disk\$" | cut -d: -f1)
[ -n "$from" ] && [ -n "$to" ] || unit_fail "cannot place the current entry ($current) or the drive's ($disk) in the list"
step=down count=$(( to - from ))
[ $count -ge 0 ] || { step=up; count=$(( -count )); }
qmp click:335,268 sleep:2 >/dev/null
for _ in $(seq 1 $count); do qmp key:$step sleep:0.5 >/dev/null; done
qmp key:ret sleep:8 >/dev/null
screen "$work/pxeswitch-set.ppm"
qmp click:430,309 >/dev/null
limit=$(( $(date +%s) + 60 ))
while screen "$work/pxeswitch-closed.ppm" && pxeswitch_shown "$work/pxeswitch-closed.ppm"; do
    [ "$(date +%s)" -lt "$limit" ] || unit_fail "pxeswitch's window did not close on OK"
    sleep 2
done
term_run efibootmgr || unit_fail "efibootmgr did not answer after pxeswitch's window closed"
after=$(term_output 3 | sed -n 's/^BootOrder: //p')
echo "before: BootOrder: $order; after pxeswitch: BootOrder: $after"
[ "${after%%,*}" = "$disk" ] || unit_fail "pxeswitch did not put the drive's entry $disk first"
unit_stop
phase_done service

# --- 4. The next power-on starts the restored system -------------------------------------------
phase "the unit starts the restored system from its drive"
unit --firmware uefi-secure --pxe-server --drive "$drive" --log "$work/restored.log" --timeout 300 ||
    { tail -n 30 "$work/restored.log"; sbx_fail "the unit did not power off by itself"; }
grep -aq "$KNOWN_LINE" "$work/restored.log" || { tail -n 30 "$work/restored.log"; sbx_fail "the restored system did not start"; }
grep -aq 'secureboot: Secure boot enabled' "$work/restored.log" || sbx_fail "the restored system did not start under Secure Boot"
! grep -q 'DHCPDISCOVER' "$work/restored-dhcp.log" || sbx_fail "the unit asked the PXE server before its drive"
phase_done restored
echo "PASS: uefi-secure console $secure_seconds s after the unit started; the restored drive boots"
