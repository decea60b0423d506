#!/bin/bash
# The service environment on a virtual thin client (scripts/unit), booted over PXE from the
# network-boot folder that the unit_image test built, with a real kernel, a real USB stick and a
# real screen:
#  1. boot: the console's main window is on the unit's screen (picture checked) and its log on
#     the unit says it started;
#  2. automatic restore: a FAT32 stick made here holds an image set the engine made here from a
#     drive with known files; the unit boots with auto-restore-reboot, deploys it and reboots;
#     the drive then holds the source's partitions, reordered and grown, file for file;
#  3. backup through the console's window with the unit's own keyboard and mouse (QEMU's
#     monitor): Backup, USB, a typed name, confirm, the success box; the set is then read from
#     the stick here, its checksum list checked, and restored by the engine onto a loop drive
#     whose files equal the unit's.
# Each phase prints its time.
set -uo pipefail
. "$BRENLOW_TESTS/sandbox/lib.sh"
source_dir=$BRENLOW_SOURCE
netboot=${BRENLOW_NETBOOT:-}
work=$BRENLOW_SANDBOX/unit
mkdir -p "$work"

for tool in qemu-system-x86_64 mkfs.vfat mcopy python3; do
    command -v "$tool" >/dev/null || sbx_skip "virtual unit: $tool is missing (scripts/setup installs it)"
done
[ -n "$netboot" ] && [ -f "$netboot/root.img" ] ||
    sbx_skip "virtual unit: no network-boot folder (the unit_image test builds it)"
export BRENLOW_NETBOOT=$netboot

phase_started=0
phase() { phase_started=$(date +%s); echo "== $*"; }
phase_done() { echo "== $1: $(( $(date +%s) - phase_started )) s"; }

unit() { "$source_dir/scripts/unit" "$@"; }
qmp() { "$source_dir/scripts/qmp" "$work/qmp.sock" "$@"; }

# picture_check PPM MODE: checks a picture of the unit's screen (see unit_picture.py).
picture_check() { python3 "$BRENLOW_TESTS/unit/unit_picture.py" "$@"; }

# ntfs_files DEV: "md5  path" of every file on the NTFS volume DEV, sorted.
ntfs_files() {
    local mnt="$work/mnt.$$"
    mkdir -p "$mnt"
    ntfs-3g -o ro "$1" "$mnt" || return 1
    (cd "$mnt" && find . -type f ! -path './System Volume Information/*' -print0 | sort -z | xargs -0 md5sum)
    fusermount -u "$mnt"
}

# --- 1. Boot to the console's main window --------------------------------------------------
phase "boot to the console's main window"
started=$(date +%s)
unit --screenshot "$work/boot.ppm" --log "$work/boot.log" --timeout 300 | tee "$work/boot.out" || {
    tail -n 40 "$work/boot.log"; sbx_fail "the unit did not show the console (scripts/unit failed)"; }
boot_seconds=$(sed -n 's/.*on the screen \([0-9]*\) s after power-on.*/\1/p' "$work/boot.out")
[ -n "$boot_seconds" ] || sbx_fail "scripts/unit did not say when the console showed"
grep -q 'pxe_client: Starting PxeClient' "$work/boot.log" || sbx_fail "the console's log on the unit does not say it started"
grep -q 'pxe_client: Start Timer' "$work/boot.log" || sbx_fail "the console's log on the unit does not reach its timer"
picture_check main "$work/boot.ppm" || sbx_fail "the unit's screen does not show the console's main window"
echo "boot: the console's main window was on the screen $boot_seconds s after power-on"
phase_done boot

# --- 2. Automatic restore from a real FAT32 stick ------------------------------------------
phase "automatic restore from a FAT32 stick"
# The source: a Windows drive whose data partition is not last (a recovery partition follows).
src=$(sbx_drive source 1G)
sbx_gpt "$src" -n 1:2048:+100M -t 1:ef00 -c 1:EFI -n 2:0:+16M -t 2:0c01 -c 2:Reserved \
    -n 3:0:+700M -t 3:0700 -c 3:Data -n 4:0:+100M -t 4:2700 -c 4:Recovery || sbx_fail "source table"
mkdosfs -F 32 -n EFI "$(sbx_part "$src" 1)" >/dev/null
mkntfs -Q -q -L Data "$(sbx_part "$src" 3)" || sbx_fail "mkntfs"
mkdir -p "$work/fill" && ntfs-3g "$(sbx_part "$src" 3)" "$work/fill" || sbx_fail "ntfs-3g"
mkdir -p "$work/fill/Users/Technician/Documents" "$work/fill/Program Files/Vemra"
seq 1 300000 > "$work/fill/Users/Technician/Documents/numbers.txt"
head -c 12M /dev/urandom > "$work/fill/Users/Technician/Documents/data.bin"
head -c 3M /dev/urandom > "$work/fill/Program Files/Vemra/agent.exe"
fusermount -u "$work/fill"
head -c 100M /dev/urandom | dd of="$(sbx_part "$src" 4)" bs=1M conv=notrunc status=none
source_files=$(ntfs_files "$(sbx_part "$src" 3)")
[ "$(echo "$source_files" | wc -l)" = 3 ] || sbx_fail "source files: $source_files"
recovery_md5=$(md5sum < "$(sbx_part "$src" 4)")

sbx_ahd "$src"
mkdir -p "$work/set/images"
vaultine -b bim "$work/set/images/factory.bim" > "$work/backup.log" 2>&1 ||
    { cat "$work/backup.log"; sbx_fail "the engine's backup of the source failed"; }

# The stick: a DOS table and a FAT32 partition from 1 MiB, made and filled without mounting.
stick=$work/stick.img
truncate -s 256M "$stick"
printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q "$stick" >/dev/null || sbx_fail "stick table"
mkfs.vfat -F 32 -n STICK --offset 2048 "$stick" $(( (256 * 1024 - 1024) )) >/dev/null || sbx_fail "mkfs.vfat"
export MTOOLS_SKIP_CHECK=1
mcopy -i "$stick@@1M" -s "$work/set/images" ::/ || sbx_fail "mcopy"

drive=$work/unit.img
truncate -s 4G "$drive"
started=$(date +%s)
unit --drive "$drive" --stick "$stick" --log "$work/restore.log" --timeout 480 auto-restore-reboot ||
    { tail -n 60 "$work/restore.log"; sbx_fail "the unit did not end by itself after the automatic restore"; }
restore_seconds=$(( $(date +%s) - started ))
# The console reboots the unit only after a successful restore (a failure stays on the screen
# until the time limit); its last log lines may not reach the serial line before the reboot.
grep -q 'reboot: Restarting system' "$work/restore.log" ||
    { grep -a 'pxe_client' "$work/restore.log" | tail -n 30; sbx_fail "the unit did not reboot after the restore"; }
grep -q 'pxe_client: vaultine -d bim /mnt/usb/images/factory.bim' "$work/restore.log" ||
    sbx_fail "the console did not deploy the stick's image set"
! grep -q 'pxe_client: Restore Done [1-9-]' "$work/restore.log" || sbx_fail "the console reports a failed restore"

dst=$(losetup -f --show "$drive") && echo "$dst" >> "$BRENLOW_SANDBOX/loops"
sbx_probe "$dst"
types=$(sfdisk -l -q -o Device,Type "$dst")
echo "$types"
echo "$types" | grep -Eq "p4 +Microsoft basic data" || sbx_fail "the data partition is not last after the deploy"
[ "$(md5sum < "$(sbx_part "$dst" 3)")" = "$recovery_md5" ] || sbx_fail "the recovery partition did not move up unchanged"
last_usable=$(sgdisk -p "$dst" | sed -n 's/.*last usable sector is \([0-9]*\).*/\1/p')
data_end=$(sgdisk -i 4 "$dst" | sed -n 's/^Last sector: \([0-9]*\).*/\1/p')
[ -n "$data_end" ] && [ $(( last_usable - data_end )) -lt 4096 ] ||
    sbx_fail "the data partition was not grown to the end (ends at $data_end, drive at $last_usable)"
sbx_expect_eq "the deployed files" "$source_files" "$(ntfs_files "$(sbx_part "$dst" 4)")"
ntfsfix -n "$(sbx_part "$dst" 4)" >/dev/null || sbx_fail "the deployed NTFS volume is not clean"
unit_files=$(ntfs_files "$(sbx_part "$dst" 4)")
partx -d "$dst" 2>/dev/null; losetup -d "$dst"
echo "restore: deployed and rebooted in $restore_seconds s"
phase_done restore

# --- 3. Backup through the console's window --------------------------------------------------
phase "backup through the console's window"
started=$(date +%s)
unit --drive "$drive" --stick "$stick" --log "$work/backup-unit.log" --timeout 480 --qmp "$work/qmp.sock" &
unit_pid=$!
# A unit still running when this test ends is powered off first (QEMU told to quit), so that
# scripts/unit removes what it made before the sandbox ends.
trap 'kill -0 $unit_pid 2>/dev/null && { qmp "{\"execute\":\"quit\"}" >/dev/null 2>&1 || kill $unit_pid; wait $unit_pid; }' EXIT
# A failure in this phase shows what the console logged last.
unit_fail() {
    grep -a 'pxe_client: \|vnc_client: \|brenlow:' "$work/backup-unit.log" | grep -v 'server ip' | tail -n 40
    sbx_fail "$@"
}
wait_for() {   # wait_for SECONDS PATTERN: a line of the unit's serial log
    local limit=$(( $(date +%s) + $1 ))
    until grep -q "$2" "$work/backup-unit.log"; do
        [ "$(date +%s)" -lt "$limit" ] && kill -0 $unit_pid 2>/dev/null || return 1
        sleep 1
    done
}
screen() { qmp "{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"$1\"}}" >/dev/null; }
# wait_screen SECONDS PPM MODE [REF...]: until the screen passes picture_check MODE; a dialog
# must differ from the REF pictures (the main window, the dialog before).
wait_screen() {
    local limit=$(( $(date +%s) + $1 )) picture=$2 mode=$3
    shift 3
    while :; do
        screen "$picture" && picture_check "$mode" "$picture" "$@" >/dev/null 2>&1 && return 0
        [ "$(date +%s)" -lt "$limit" ] || { picture_check "$mode" "$picture" "$@"; return 1; }
        sleep 1
    done
}
wait_for 300 'pxe_client: Start Timer' || unit_fail "the console did not start for the backup"
wait_screen 60 "$work/main.ppm" main || unit_fail "no main window"
# The remote-view console (x11vnc's display) comes up after the unit's own.
wait_for 120 'vnc_client: Start Timer' || unit_fail "the remote-view console did not start"
# Backup is the second row of the menu.
read -r bx by < <(picture_check button "$work/main.ppm" 2) || unit_fail "no Backup button on the screen"
# A click that comes before the session takes pointer input is lost: the button is pressed
# again until the dialog shows (a click beside an open dialog changes nothing).
for attempt in 1 2 3 4; do
    qmp "click:$bx,$by" >/dev/null
    wait_screen 10 "$work/source.ppm" dialog "$work/main.ppm" 2>/dev/null && break
done
picture_check dialog "$work/source.ppm" "$work/main.ppm" || unit_fail "no destination dialog after pressing Backup"
qmp key:ret >/dev/null                          # the USB stick is the preset choice
wait_for 60 'GetUsbMountPath -- USB Mounted' || unit_fail "the console did not mount the stick"
wait_screen 30 "$work/save.ppm" dialog "$work/main.ppm" "$work/source.ppm" || unit_fail "no file dialog"
qmp sleep:1 type:site1 key:ret >/dev/null
wait_screen 30 "$work/confirm.ppm" dialog "$work/main.ppm" "$work/save.ppm" || unit_fail "no confirmation"
qmp key:ret >/dev/null
wait_for 300 'pxe_client: Backup Complete' || unit_fail "the backup did not end"
grep -q 'pxe_client: Backup Complete 0' "$work/backup-unit.log" || unit_fail "the console reports a failed backup"
wait_screen 30 "$work/success.ppm" dialog "$work/main.ppm" "$work/confirm.ppm" || unit_fail "no success box on the screen"
backup_seconds=$(( $(date +%s) - started ))
qmp key:ret >/dev/null
wait_screen 30 "$work/after.ppm" main || unit_fail "the success box did not close"
# Exit: the console closes (Debian's kernel, so the button reads Exit) and the unit reboots.
qmp key:ctrl+alt+delete >/dev/null
wait_screen 30 "$work/exit.ppm" dialog "$work/after.ppm" || unit_fail "no exit question"
qmp key:ret >/dev/null
wait $unit_pid || unit_fail "the unit did not reboot after the console ended"
grep -q 'reboot: Restarting system' "$work/backup-unit.log" || unit_fail "the unit did not reboot after Exit"

mkdir -p "$work/back"
mcopy -i "$stick@@1M" '::/site1.bim*' "$work/back/" || sbx_fail "the set is not on the stick"
ls -l "$work/back"
(cd "$work/back" && sed 's/^\([0-9a-f]*\) : \(.*\)$/\1  \2/' site1.bim.sums | md5sum -c --quiet) ||
    sbx_fail "the set's checksum list does not match its members"
[ "$(wc -l < "$work/back/site1.bim.sums")" -ge 4 ] || sbx_fail "the checksum list is too short"
check=$(sbx_drive check 4G)
sbx_ahd "$check"
vaultine -r bim "$work/back/site1.bim" > "$work/check.log" 2>&1 || { cat "$work/check.log"; sbx_fail "the engine could not restore the unit's set"; }
sbx_probe "$check"
sbx_expect_eq "the restored files" "$unit_files" "$(ntfs_files "$(sbx_part "$check" 4)")"
echo "backup: through the window in $backup_seconds s"
phase_done backup
echo "PASS: boot $boot_seconds s, restore $restore_seconds s, backup $backup_seconds s"
