#!/bin/bash
# Builds the network-boot folder (build/pxe) from the packages of this build, for the
# virtual-unit tests, and checks what the folder says of itself: every file matches its
# SHA256SUMS line, VERSION names the version, kernel and packages, and no half-built folder is
# left beside it. The package cache outside the build makes a repeated run download nothing
# that did not change; the time taken is printed.
. "$BRENLOW_TESTS/sandbox/lib.sh"
[ "$(id -u)" = 0 ] || sbx_skip "unit image: mmdebstrap needs root"
for tool in mmdebstrap mksquashfs cpio; do
    command -v "$tool" >/dev/null || sbx_skip "unit image: $tool is missing (scripts/setup installs it)"
done
# The UEFI units of the tests boot OVMF: missing, it is better said now than after the build.
for file in /usr/share/OVMF/OVMF_CODE_4M.fd /usr/share/OVMF/OVMF_VARS_4M.fd \
            /usr/share/OVMF/OVMF_CODE_4M.ms.fd /usr/share/OVMF/OVMF_VARS_4M.ms.fd; do
    [ -f "$file" ] || sbx_skip "unit image: $file is missing (scripts/setup installs ovmf)"
done
out=$BRENLOW_BUILD/pxe
started=$(date +%s)
BRENLOW_NO_BUILD=1 "$BRENLOW_SOURCE/scripts/netboot-image" "$out" || sbx_fail "scripts/netboot-image failed"
echo "unit image: built in $(( $(date +%s) - started )) s"

(cd "$out" && sha256sum --quiet -c SHA256SUMS) || sbx_fail "the folder does not match its SHA256SUMS"
for file in vmlinuz initrd.img root.img boot.ipxe pxelinux.0 pxelinux.cfg/default undionly.kpxe \
            shimx64.efi grubx64.efi grub/grub.cfg VERSION; do
    grep -q "  $file\$" "$out/SHA256SUMS" ||
        sbx_fail "$file is missing from the folder or from its SHA256SUMS"
done
head -n 3 "$out/VERSION"
grep -q '^Brenlow Service v' "$out/VERSION" || sbx_fail "VERSION has no version line"
kernel=$(sed -n 's/^kernel: //p' "$out/VERSION")
[ -n "$kernel" ] && grep -aq "$kernel" "$out/vmlinuz" || sbx_fail "VERSION names kernel '$kernel', not the one in vmlinuz"
grep -Eq '^  (linux-image-[0-9][^ ]*|brenlow) ' "$out/VERSION" || sbx_fail "VERSION lists no packages"
# The same five entries in both menus.
sbx_expect_eq "GRUB's entries" "service auto-restore auto-restore-reboot auto-install auto-install-reboot" \
    "$(sed -n 's/^menuentry .* --id \([^ ]*\) {$/\1/p' "$out/grub/grub.cfg" | xargs)"
sbx_expect_eq "PXELINUX's entries" "service auto-restore auto-restore-reboot auto-install auto-install-reboot" \
    "$(sed -n 's/^LABEL //p' "$out/pxelinux.cfg/default" | xargs)"
! ls -d "$(dirname "$out")"/.pxe.new.* 2>/dev/null || sbx_fail "a half-built folder was left beside the folder"
