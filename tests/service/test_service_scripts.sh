#!/bin/bash
# The service scripts on real loop drives: the system drive's name, making partitions known,
# unmounting and remounting the drive's file systems, and the Linux firmware boot set-up.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"

# ahd.sh names a fixed disk of this machine that exists, never a loop device.
name=$(PATH=$BRENLOW_BIN:$PATH ahd.sh)
[ -n "$name" ] || sbx_fail "ahd.sh printed nothing on a machine with a fixed disk"
[ -e "/sys/block/$name" ] || sbx_fail "ahd.sh printed '$name', which is no block device"
case "$name" in loop*) sbx_fail "ahd.sh chose a loop device" ;; esac

dev=$(sbx_drive unit 200M)
sbx_ahd "$dev"

# part-probe.sh: a table written without telling the kernel becomes partition nodes.
printf 'label: gpt\n,64M,U\n,,L\n' | sfdisk -q --no-reread --no-tell-kernel "$dev" >/dev/null || sbx_fail "sfdisk"
[ -b "$(sbx_part "$dev" 1)" ] && sbx_fail "partition nodes exist before part-probe.sh"
part-probe.sh || sbx_fail "part-probe.sh failed"
[ -b "$(sbx_part "$dev" 1)" ] && [ -b "$(sbx_part "$dev" 2)" ] || sbx_fail "part-probe.sh made no partition nodes"

# umountdrives.sh / mountdrives.sh: both file systems (one FUSE, one kernel) go and come back.
mkntfs -Q -F "$(sbx_part "$dev" 1)" >/dev/null 2>&1 || sbx_fail "mkntfs"
mkfs.ext4 -q -F "$(sbx_part "$dev" 2)" || sbx_fail "mkfs.ext4"
mkdir -p "/mnt/data disk" /mnt/linux
ntfs-3g "$(sbx_part "$dev" 1)" "/mnt/data disk" || sbx_fail "ntfs-3g"
mount "$(sbx_part "$dev" 2)" /mnt/linux || sbx_fail "mount ext4"
echo windows > "/mnt/data disk/w.txt"; echo linux > /mnt/linux/l.txt
other=$(sbx_drive other 32M); mkfs.ext4 -q -F "$other"; mkdir -p /mnt/other; mount "$other" /mnt/other
umountdrives.sh >/dev/null || sbx_fail "umountdrives.sh failed"
# The drive and its partitions by their whole names: /dev/loop1 must not match another test's
# /dev/loop12 or /dev/loop1p10.
grep -Eq "^$dev(p[0-9]+)? " /proc/self/mounts && sbx_fail "a file system of the system drive is still mounted"
grep -q " /mnt/other " /proc/self/mounts || sbx_fail "umountdrives.sh unmounted another drive"
mountdrives.sh >/dev/null || sbx_fail "mountdrives.sh failed"
sbx_expect_eq "NTFS file after remount" windows "$(cat "/mnt/data disk/w.txt" 2>/dev/null)"
sbx_expect_eq "ext4 file after remount" linux "$(cat /mnt/linux/l.txt 2>/dev/null)"
umount "/mnt/data disk" /mnt/linux /mnt/other

# install_linux.sh: a bootable FAT partition 1 (syslinux loader, configuration, boot code).
sgdisk -Z "$dev" >/dev/null 2>&1
sgdisk -n 0:0:0 -t 0:EF00 "$dev" >/dev/null && sbx_probe "$dev"
p1=$(sbx_part "$dev" 1)
mkdosfs "$p1" >/dev/null || sbx_fail "mkdosfs"
install_linux.sh "$p1" /mnt/hd "$dev" >/tmp/install.out 2>&1 || { cat /tmp/install.out; sbx_fail "install_linux.sh failed"; }
files=$(MTOOLS_SKIP_CHECK=1 mdir -a -b -i "$p1" :: 2>/dev/null | tr 'A-Z' 'a-z')
echo "$files" | grep -q 'syslinux.cfg' || sbx_fail "no syslinux.cfg on partition 1: $files"
echo "$files" | grep -q 'ldlinux.sys' || sbx_fail "no loader on partition 1: $files"
cmp -n 440 "$dev" /usr/lib/syslinux/mbr/gptmbr.bin || sbx_fail "boot code of a GPT drive not written"
grep -q "^$p1 " /proc/self/mounts && sbx_fail "install_linux.sh left partition 1 mounted"
install_linux.sh 2>/dev/null && sbx_fail "install_linux.sh without arguments succeeded"

echo "service scripts: all checks passed"
