#!/bin/bash
# The service environment on a virtual thin client (scripts/unit), booted over PXE from the
# network-boot folder that the unit_image test built, with a real kernel, a real USB stick, a
# real SMB share (samba), a production server over the unit's network and a real screen:
#  1. the unit on the network, in one boot: the screen says the environment is starting (no
#     login prompt) until the console's main window shows, whose "My IP:" line reads the address
#     QEMU's DHCP gave the boot card; the remote view lets in only a client with the image's
#     password and shows the console; a backup through the window to //10.0.2.2/units (typed
#     with user and password) is read back here with its checksums; Install Image fetches a
#     firmware from the production server here (prod-server=10.0.2.2) onto the drive; from the
#     service terminal a script on the share proves bootwatch takes a request and the share's
#     password is in no file, log or command line of the unit, then crashes the console: its log
#     stays on the screen and the unit does not reboot.
#  2. automatic restore: a FAT32 stick made here holds an image set the engine made here from a
#     drive with known files; the unit boots with auto-restore-reboot, deploys it and reboots;
#     the drive then holds the source's partitions, reordered and grown, file for file;
#  3. backup through the console's window with the unit's own keyboard and mouse (QEMU's
#     monitor): Backup, USB, a typed name, confirm, the success box; the set is then read from
#     the stick here, its checksum list checked, and restored by the engine onto a loop drive
#     whose files equal the unit's; then Deploy Windows from the share (typed as in phase 1)
#     takes the set of phase 1's 4 GiB drive onto this 5 GiB one: the same files, the data
#     partition last and grown to the end.
# Each phase prints its time.
set -uo pipefail
. "$BRENLOW_TESTS/sandbox/lib.sh"
source_dir=$BRENLOW_SOURCE
netboot=${BRENLOW_NETBOOT:-}
work=$BRENLOW_SANDBOX/unit
mkdir -p "$work"

for tool in qemu-system-x86_64 mkfs.vfat mcopy python3 smbd tesseract nsenter debugfs openssl; do
    command -v "$tool" >/dev/null || sbx_skip "virtual unit: $tool is missing (scripts/setup installs it)"
done
[ -n "$netboot" ] && [ -f "$netboot/root.img" ] ||
    sbx_skip "virtual unit: no network-boot folder (the unit_image test builds it)"
vnc_password=$BRENLOW_BUILD/unit/vnc-password
[ -f "$vnc_password" ] || sbx_skip "virtual unit: no remote-view password (the unit_image test writes it)"
share_password=brenlow-share
export BRENLOW_NETBOOT=$netboot

. "$BRENLOW_TESTS/unit/unitlib.sh"
unit_log_lines='pxe_client: \|vnc_client: \|brenlow:\|unitcheck:'
helpers=()
trap 'unit_stop; for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null; done' EXIT

# ntfs_files DEV: "md5  path" of every file on the NTFS volume DEV, sorted.
ntfs_files() {
    local mnt="$work/mnt.$$"
    mkdir -p "$mnt"
    ntfs-3g -o ro "$1" "$mnt" || return 1
    (cd "$mnt" && find . -type f ! -path './System Volume Information/*' -print0 | sort -z | xargs -0 md5sum)
    fusermount -u "$mnt"
}

# choose_share PPM: in the source or destination dialog on the screen, picks the network share
# and types it as a technician does: //10.0.2.2/units, user, password.
choose_share() {
    local x y
    read -r x y < <(picture_check find "$1" network share) || return 1
    qmp "click:$x,$y" sleep:0.5 key:ret >/dev/null
    wait_text 30 "${1%.ppm}.share.ppm" Network Path >/dev/null || return 1
    qmp sleep:0.5 type://10.0.2.2/units key:tab type:technician key:tab "type:$share_password" key:ret >/dev/null
}

# file_name SECONDS PPM NAME: in the file dialog on the screen (a share's listing may take a
# while), types NAME into its "File name:" field and presses Enter.
file_name() {
    local x y
    read -r x y < <(wait_text "$1" "$2" File name:) || return 1
    qmp "click:$(( x + 250 )),$y" sleep:0.5 "type:$3" key:ret >/dev/null
}

# --- 1. The unit on the network ----------------------------------------------------------------
phase "the unit on the network: address, remote view, share backup, firmware install"
# The unit's drive: EFI, reserved and an NTFS data partition with files.
net_dev=$(sbx_drive network 4G)
sbx_unit_drive "$net_dev" >/dev/null 2>&1 || sbx_fail "could not make the unit's drive"
network_files=$(ntfs_files "$(sbx_part "$net_dev" 3)")
partx -d "$net_dev" 2>/dev/null; losetup -d "$net_dev"
net_drive=$BRENLOW_SANDBOX/drives/network.img
# The share, and on it the check the technician runs from the service terminal (below) with the
# share's password to look for (the password stays off every command line).
share=$work/share
mkdir -p "$share"
printf '%s\n' "$share_password" > "$share/.pattern"
cat > "$share/unitcheck.sh" <<'CHECK'
exec > /dev/ttyS0 2>&1
say() { echo "unitcheck: $*"; }
card=$(cat /tmp/eth)
say "card $card address $(ip -4 -o addr show dev "$card" | awk '{ print $4 }')"
pgrep -x bootwatch >/dev/null && say "bootwatch runs"
pgrep -x x11vnc >/dev/null && say "x11vnc runs"
before=$(stat -c %s /tmp/BiosHandler.log 2>/dev/null || echo 0)
touch /tmp/pxe/getpxeswitch
for _ in $(seq 1 40); do [ -e /tmp/pxe/getpxeswitch ] || break; sleep 0.5; done
sleep 3
[ -e /tmp/pxe/getpxeswitch ] || say "bootwatch took the request"
[ "$(stat -c %s /tmp/BiosHandler.log 2>/dev/null || echo 0)" -gt "$before" ] && say "the LAN boot utility logged"
found=$(grep -rlsF -D skip -f /mnt/smb/.pattern /var/log /tmp /run /etc /root /var/lib /proc/[0-9]*/cmdline /proc/[0-9]*/environ 2>/dev/null | grep -v '^/proc/self/\|^/proc/thread-self/')
say "password found in: ${found:-nothing}"
say "done"
# Last, as the terminal goes with it: the console crashes.
kill -SEGV "$(pgrep -x -f /usr/bin/console)"
CHECK
# The production server: a model, its firmware version and archive (files and their list).
prod=$work/prod
mkdir -p "$prod/firmware" "$work/fw/etc"
echo "LYX-64T" > "$prod/models.txt"
echo '{"LYX-64T": ["16.5.2"]}' > "$prod/versions.json"
echo "LYX-64T firmware 16.5.2" > "$work/fw/etc/release"
head -c 2M /dev/urandom > "$work/fw/app.bin"
(cd "$work/fw" && for f in etc/release app.bin; do echo "$(md5sum < "$f" | cut -d' ' -f1) $f $(stat -c %s "$f")"; done > files.md5)
tar -C "$work/fw" -cf "$prod/firmware/LYX-64T_16.5.2.tar" files.md5 etc app.bin

started=$(date +%s)
unit_start "$work/network.log" --drive "$net_drive" --share "$share" --timeout 900 prod-server=10.0.2.2
# The serial log is made once scripts/unit has its network up.
for _ in $(seq 1 300); do [ -e "$work/network.log" ] && break; sleep 0.2; done
# The production server listens on the unit's 10.0.2.2, port 80 (its own network namespace).
nsenter -t "$unit_pid" -n python3 "$BRENLOW_TESTS/console/prodserver.py" "$prod" &
helpers+=($!)
# Until the console shows: pictures of the screen every few seconds.
shots=0
until grep -aq 'pxe_client: Start Timer' "$work/network.log"; do
    kill -0 "$unit_pid" 2>/dev/null || unit_fail "the unit ended before the console started"
    [ $(( $(date +%s) - started )) -lt 400 ] || unit_fail "the console did not start"
    screen "$work/early-$shots.ppm" 2>/dev/null && shots=$(( shots + 1 ))
    sleep 4
done
wait_screen 60 "$work/main.ppm" main || unit_fail "no main window"
boot_seconds=$(( $(date +%s) - started ))
echo "network: the console's main window was on the screen $boot_seconds s after power-on"
# Before X: the line saying the environment is starting, and never a login prompt.
starting=no
for picture in $(ls -t "$work"/early-*.ppm | head -n 12); do
    text=$(picture_check text "$picture" 2>/dev/null)
    echo "$text" | grep -qi 'login' && sbx_fail "a login prompt is on the unit's screen: $text"
    echo "$text" | grep -qi 'environment is starting' && starting=yes
done
[ $starting = yes ] || sbx_fail "no picture of the screen before the console says the environment is starting"
# "My IP:" shows the address QEMU's DHCP gives the boot card (it may come a little after the window).
wait_text 90 "$work/main-ip.ppm" 10.0.2.15 >/dev/null || unit_fail "the main window does not show 10.0.2.15"
read -r _ address_y < <(picture_check find "$work/main-ip.ppm" 10.0.2.15)
read -r _ label_y < <(picture_check find "$work/main-ip.ppm" My IP:) || unit_fail "the main window has no My IP: label"
[ $(( address_y - label_y )) -lt 12 ] && [ $(( label_y - address_y )) -lt 12 ] ||
    unit_fail "10.0.2.15 is not on the My IP: line (at $address_y, the label at $label_y)"
ip_line="My IP: 10.0.2.15"
echo "network: the main window reads \"$ip_line\" (both at the height of $label_y pixels)"

# The remote view: only the image's password lets a client in, and it sees the console.
wait_for 150 'vnc_client: Start Timer' || unit_fail "the remote-view console did not start"
nsenter -t "$unit_pid" -n python3 "$BRENLOW_TESTS/unit/rfb_check.py" 127.0.0.1 5901 "$vnc_password" ||
    unit_fail "the remote view does not hold its password"

# Backup through the window to the share.
backup_started=$(date +%s)
press_row 3 "$work/main-ip.ppm" || unit_fail "no destination dialog after pressing Backup"
choose_share "$work/main-ip.dialog.ppm" || unit_fail "could not choose and type the share"
file_name 60 "$work/net-save.ppm" net1 || unit_fail "no file dialog on the share"
wait_text 60 "$work/net-confirm.ppm" want to backup >/dev/null || unit_fail "no confirmation"
qmp key:ret >/dev/null
wait_for 400 'pxe_client: Backup Complete' || unit_fail "the backup to the share did not end"
grep -aq 'pxe_client: Backup Complete 0' "$work/network.log" || unit_fail "the console reports a failed backup to the share"
share_backup_seconds=$(( $(date +%s) - backup_started ))
wait_screen 30 "$work/net-success.ppm" dialog "$work/main-ip.ppm" "$work/net-confirm.ppm" || unit_fail "no success box"
qmp key:ret >/dev/null
wait_screen 30 "$work/net-after.ppm" main || unit_fail "the success box did not close"

# Install Image (second row on a production unit): the model and version the server offers.
install_started=$(date +%s)
press_row 2 "$work/net-after.ppm" || unit_fail "no model list after pressing Install Image"
read -r x y < <(wait_text 30 "$work/models.ppm" LYX-64T) || unit_fail "the model list does not offer LYX-64T"
qmp "click:$x,$y" sleep:0.5 key:ret >/dev/null
read -r x y < <(wait_text 30 "$work/versions.ppm" 16.5.2) || unit_fail "the version list does not offer 16.5.2"
qmp "click:$x,$y" sleep:0.5 key:ret >/dev/null
wait_for 300 'Install image *LYX-64T *16.5.2 *Result' || unit_fail "the firmware install did not end"
grep -aq 'Install image *LYX-64T *16.5.2 *Result *0' "$work/network.log" || unit_fail "the firmware install failed"
install_seconds=$(( $(date +%s) - install_started ))
wait_text 30 "$work/installed.ppm" Firmware Installation Successful >/dev/null || unit_fail "no success box after the install"
qmp key:ret >/dev/null
grep -q 'GET /firmware/LYX-64T_16.5.2.tar' "$prod/requests.log" || sbx_fail "the unit did not fetch the firmware from the server"
wait_screen 30 "$work/net-after2.ppm" main || unit_fail "the install's success box did not close"

# The service terminal (the last row, Terminal, and the service password), and in it the check
# script.
press_row 14 "$work/net-after2.ppm" || unit_fail "nothing opens on pressing Terminal"
wait_text 30 "$work/login.ppm" Please Enter Password >/dev/null || unit_fail "no password question for the terminal"
qmp type:quindrel key:ret >/dev/null
# The terminal (dark, without the console's button faces) is open once the console says so.
wait_for 30 'pxe_client: Key Bindings' || unit_fail "no terminal"
qmp sleep:3 click:512,384 sleep:1 type:bash\ /mnt/smb/unitcheck.sh key:ret >/dev/null
wait_for 90 'unitcheck: done' || unit_fail "the check script did not run"
grep -a 'unitcheck:' "$work/network.log"
grep -aq 'unitcheck: card .* address 10.0.2.15/' "$work/network.log" || unit_fail "the boot card (/tmp/eth) does not hold 10.0.2.15"
grep -aq 'unitcheck: bootwatch took the request' "$work/network.log" || unit_fail "bootwatch did not take a request"
grep -aq 'unitcheck: x11vnc runs' "$work/network.log" || unit_fail "x11vnc does not run"
grep -aq 'unitcheck: password found in: nothing' "$work/network.log" || unit_fail "the share's password is in a file of the unit"
# The crashed console: the session says so with the console's log, on the unit's screen, and the
# unit stays on (a reboot would boot the same network entry again).
wait_for 60 'brenlow: the console crashed (signal 11)' || unit_fail "the session did not report the crash"
wait_text 60 "$work/crash.ppm" the console crashed >/dev/null || unit_fail "the crash is not on the unit's screen"
picture_check text "$work/crash.ppm" | grep -qi "end of the console" ||
    unit_fail "the console's log is not on the screen after the crash"
sleep 20
kill -0 "$unit_pid" 2>/dev/null || unit_fail "the unit ended after the console crashed"
! grep -aq 'reboot: Restarting' "$work/network.log" || unit_fail "the unit rebooted after the console crashed"
wait_text 10 "$work/crash-later.ppm" the console crashed >/dev/null || unit_fail "the crash went from the unit's screen"
echo "network: the crashed console's log stayed on the screen, no reboot in the 20 s after"
unit_stop
for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null; done
helpers=()

# On the host: the set with its checksums, the firmware on the drive, no password in the logs.
ls -l "$share"
(cd "$share" && sed 's/^\([0-9a-f]*\) : \(.*\)$/\1  \2/' net1.bim.sums | md5sum -c --quiet) ||
    sbx_fail "the set on the share does not match its checksum list"
[ "$(wc -l < "$share/net1.bim.sums")" -ge 4 ] || sbx_fail "the share's checksum list is too short"
! grep -aqF "$share_password" "$work/network.log" "$work/network-http.log" || sbx_fail "the share's password is in the unit's serial log"
fw=$(losetup -f --show "$net_drive") && echo "$fw" >> "$BRENLOW_SANDBOX/loops"
sbx_probe "$fw"
sbx_expect_eq "the firmware's release file on the drive" "LYX-64T firmware 16.5.2" \
    "$(debugfs -R 'cat /etc/release' "$(sbx_part "$fw" 1)" 2>/dev/null)"
sbx_expect_eq "the modality recorded on the drive" "LYX-T" \
    "$(debugfs -R 'cat /modality.install' "$(sbx_part "$fw" 1)" 2>/dev/null)"
partx -d "$fw" 2>/dev/null; losetup -d "$fw"
echo "network: backup to the share in $share_backup_seconds s, firmware installed from the server in $install_seconds s"
phase_done network

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

stick_with_set "$src" factory
export MTOOLS_SKIP_CHECK=1   # mtools reads the stick again after the USB backup

# A drive larger than phase 1's, so that the deploy from the share in phase 3 grows the set too.
drive=$work/unit.img
truncate -s 5G "$drive"
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
unit_start "$work/backup-unit.log" --drive "$drive" --stick "$stick" --share "$share" --timeout 600
wait_for 300 'pxe_client: Start Timer' || unit_fail "the console did not start for the backup"
wait_screen 60 "$work/main.ppm" main || unit_fail "no main window"
# The remote-view console (x11vnc's display) comes up after the unit's own.
wait_for 120 'vnc_client: Start Timer' || unit_fail "the remote-view console did not start"
# Backup is the third row of a production unit's menu.
press_row 3 "$work/main.ppm" || unit_fail "no destination dialog after pressing Backup"
qmp key:ret >/dev/null                          # the USB stick is the preset choice
wait_for 60 'GetUsbMountPath -- USB Mounted' || unit_fail "the console did not mount the stick"
wait_screen 30 "$work/save.ppm" dialog "$work/main.ppm" "$work/main.dialog.ppm" || unit_fail "no file dialog"
qmp sleep:1 type:site1 key:ret >/dev/null
wait_screen 30 "$work/confirm.ppm" dialog "$work/main.ppm" "$work/save.ppm" || unit_fail "no confirmation"
qmp key:ret >/dev/null
wait_for 300 'pxe_client: Backup Complete' || unit_fail "the backup did not end"
grep -q 'pxe_client: Backup Complete 0' "$work/backup-unit.log" || unit_fail "the console reports a failed backup"
wait_screen 30 "$work/success.ppm" dialog "$work/main.ppm" "$work/confirm.ppm" || unit_fail "no success box on the screen"
backup_seconds=$(( $(date +%s) - started ))
qmp key:ret >/dev/null
wait_screen 30 "$work/after.ppm" main || unit_fail "the success box did not close"

# Deploy Windows (seventh row) from the share: the set backed up there in phase 1.
deploy_started=$(date +%s)
press_row 7 "$work/after.ppm" || unit_fail "no source dialog after pressing Deploy Windows"
choose_share "$work/after.dialog.ppm" || unit_fail "could not choose and type the share for the deploy"
file_name 60 "$work/open.ppm" net1.bim || unit_fail "no file dialog on the share"
wait_text 60 "$work/deploy-confirm.ppm" want to deploy >/dev/null || unit_fail "no deploy question"
qmp key:ret >/dev/null
wait_for 400 'pxe_client: Restore Done' || unit_fail "the deploy from the share did not end"
grep -aq 'pxe_client: Restore Done 0' "$work/backup-unit.log" || unit_fail "the console reports a failed deploy from the share"
grep -aq 'pxe_client: vaultine -d bim /mnt/smb/net1.bim' "$work/backup-unit.log" || unit_fail "the console did not deploy /mnt/smb/net1.bim"
deploy_seconds=$(( $(date +%s) - deploy_started ))
wait_text 30 "$work/deployed.ppm" Image Restore Successful >/dev/null || unit_fail "no success box after the deploy"
qmp key:ret >/dev/null
wait_screen 30 "$work/after-deploy.ppm" main || unit_fail "the deploy's success box did not close"

# Exit: the console closes (Debian's kernel, so the button reads Exit) and the unit reboots.
qmp key:ctrl+alt+delete >/dev/null
wait_screen 30 "$work/exit.ppm" dialog "$work/after-deploy.ppm" || unit_fail "no exit question"
qmp key:ret >/dev/null
wait $unit_pid || unit_fail "the unit did not reboot after the console ended"
grep -q 'reboot: Restarting system' "$work/backup-unit.log" || unit_fail "the unit did not reboot after Exit"

mkdir -p "$work/back"
mcopy -i "$stick@@1M" '::/site1.bim*' "$work/back/" || sbx_fail "the set is not on the stick"
ls -l "$work/back"
(cd "$work/back" && sed 's/^\([0-9a-f]*\) : \(.*\)$/\1  \2/' site1.bim.sums | md5sum -c --quiet) ||
    sbx_fail "the set's checksum list does not match its members"
[ "$(wc -l < "$work/back/site1.bim.sums")" -ge 4 ] || sbx_fail "the checksum list is too short"
check=$(sbx_drive check 5G)
sbx_ahd "$check"
vaultine -r bim "$work/back/site1.bim" > "$work/check.log" 2>&1 || { cat "$work/check.log"; sbx_fail "the engine could not restore the unit's set"; }
sbx_probe "$check"
sbx_expect_eq "the restored files" "$unit_files" "$(ntfs_files "$(sbx_part "$check" 4)")"
echo "backup: through the window in $backup_seconds s"

# The drive after the deploy from the share: phase 1's files, the data partition last and grown.
dst=$(losetup -f --show "$drive") && echo "$dst" >> "$BRENLOW_SANDBOX/loops"
sbx_probe "$dst"
types=$(sfdisk -l -q -o Device,Type "$dst")
echo "$types"
echo "$types" | tail -n 1 | grep -q 'Microsoft basic data' || sbx_fail "the data partition is not last after the deploy from the share"
data=$(echo "$types" | tail -n 1 | awk '{ print $1 }')
last_usable=$(sgdisk -p "$dst" | sed -n 's/.*last usable sector is \([0-9]*\).*/\1/p')
data_end=$(sgdisk -i "${data##*p}" "$dst" | sed -n 's/^Last sector: \([0-9]*\).*/\1/p')
[ -n "$data_end" ] && [ $(( last_usable - data_end )) -lt 4096 ] ||
    sbx_fail "the deployed data partition was not grown to the end of the larger drive (ends at $data_end, drive at $last_usable)"
deployed_files=$(ntfs_files "$data")
sbx_expect_eq "the files deployed from the share" "$network_files" "$deployed_files"
ntfsfix -n "$data" >/dev/null || sbx_fail "the NTFS volume deployed from the share is not clean"
partx -d "$dst" 2>/dev/null; losetup -d "$dst"
echo "deploy: from the share onto a 5 GiB drive (the set's drive: 4 GiB) in $deploy_seconds s, $(echo "$deployed_files" | wc -l) files identical"

phase_done backup
echo "PASS: boot to the console $boot_seconds s, network ($ip_line), share backup $share_backup_seconds s, firmware install $install_seconds s, restore $restore_seconds s, USB backup $backup_seconds s, share deploy $deploy_seconds s"
