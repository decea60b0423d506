#!/bin/bash
# Builds the network-boot folder (build/pxe) from the packages of this build, for the
# virtual-unit tests: a production unit's image (Install Image is shown) with a remote-view
# password, which the virtual-unit test reads from build/unit/vnc-password. The package cache
# outside the build makes a repeated run download nothing that did not change; the time taken is
# printed. Then the folder and the image are checked: every file matches its SHA256SUMS line,
# VERSION names the version, kernel and packages, no half-built folder is left beside it, both
# menus have the same entries; every kernel module a kept module depends on is in the image, the
# network and graphics drivers of thin clients, docks and virtual units are there, and the remote
# view's password file is root's alone.
. "$BRENLOW_TESTS/sandbox/lib.sh"
[ "$(id -u)" = 0 ] || sbx_skip "unit image: mmdebstrap needs root"
for tool in mmdebstrap mksquashfs unsquashfs cpio modinfo openssl; do
    command -v "$tool" >/dev/null || sbx_skip "unit image: $tool is missing (scripts/setup installs it)"
done
# The UEFI units of the tests boot OVMF: missing, it is better said now than after the build.
for file in /usr/share/OVMF/OVMF_CODE_4M.fd /usr/share/OVMF/OVMF_VARS_4M.fd \
            /usr/share/OVMF/OVMF_CODE_4M.ms.fd /usr/share/OVMF/OVMF_VARS_4M.ms.fd; do
    [ -f "$file" ] || sbx_skip "unit image: $file is missing (scripts/setup installs ovmf)"
done
# Not in the sandbox (mmdebstrap downloads from the archive): a work folder of its own.
check=$(mktemp -d /var/tmp/brenlow-image-check.XXXXXX)
trap 'rm -rf "$check"' EXIT
started=$(date +%s)
mkdir -p "$BRENLOW_BUILD/unit"
password_file=$BRENLOW_BUILD/unit/vnc-password
(umask 077; echo "rv$RANDOM$RANDOM" | cut -c1-8 > "$password_file")
version=$(sed -n 's/.*BRENLOW_PACKAGE_VERSION "\([^"]*\)".*/\1/p' "$BRENLOW_SOURCE/packaging/CMakeLists.txt")
BRENLOW_NO_BUILD=1 BRENLOW_VERSION_LINE="Brenlow Service production v$version" \
    "$BRENLOW_SOURCE/scripts/netboot-image" --vnc-password-file "$password_file" "$BRENLOW_BUILD/pxe" |
    tee "$check/image.out"
[ "${PIPESTATUS[0]}" = 0 ] || sbx_fail "scripts/netboot-image failed"
echo "unit image: built in $(( $(date +%s) - started )) s"
out=$BRENLOW_BUILD/pxe

(cd "$out" && sha256sum --quiet -c SHA256SUMS) || sbx_fail "the folder does not match its SHA256SUMS"
for file in vmlinuz initrd.img root.img boot.ipxe pxelinux.0 pxelinux.cfg/default undionly.kpxe \
            shimx64.efi grubx64.efi grub/grub.cfg VERSION; do
    grep -q "  $file\$" "$out/SHA256SUMS" ||
        sbx_fail "$file is missing from the folder or from its SHA256SUMS"
done
head -n 3 "$out/VERSION"
grep -Eq '^Brenlow Service (production )?v' "$out/VERSION" || sbx_fail "VERSION has no version line"
kernel=$(sed -n 's/^kernel: //p' "$out/VERSION")
[ -n "$kernel" ] && grep -aq "$kernel" "$out/vmlinuz" || sbx_fail "VERSION names kernel '$kernel', not the one in vmlinuz"
grep -Eq '^  (linux-image-[0-9][^ ]*|brenlow) ' "$out/VERSION" || sbx_fail "VERSION lists no packages"
# The same five entries in both menus.
sbx_expect_eq "GRUB's entries" "service auto-restore auto-restore-reboot auto-install auto-install-reboot" \
    "$(sed -n 's/^menuentry .* --id \([^ ]*\) {$/\1/p' "$out/grub/grub.cfg" | xargs)"
sbx_expect_eq "PXELINUX's entries" "service auto-restore auto-restore-reboot auto-install auto-install-reboot" \
    "$(sed -n 's/^LABEL //p' "$out/pxelinux.cfg/default" | xargs)"
! ls -d "$(dirname "$out")"/.pxe.new.* 2>/dev/null || sbx_fail "a half-built folder was left beside the folder"

# The root as the unit gets it.
root=$check/root
mkdir -p "$check/cpio"
(cd "$check/cpio" && cpio -i --quiet < "$BRENLOW_BUILD/pxe/root.img") || sbx_fail "root.img is no cpio archive"
unsquashfs -q -n -d "$root" "$check/cpio/root.squashfs" usr/lib/modules etc/brenlow >/dev/null ||
    sbx_fail "root.squashfs cannot be read"
listing=$(unsquashfs -lls "$check/cpio/root.squashfs" etc/brenlow/vncpasswd)
echo "$listing" | grep -Eq -- '-rw------- root/root +8 .*etc/brenlow/vncpasswd$' ||
    sbx_fail "the remote view's password file is not root's alone: $listing"

# Every kept module's depends= record names kept modules only.
declare -A kept=()
mapfile -t modules < <(find "$root/usr/lib/modules" -name '*.ko*')
for file in "${modules[@]}"; do
    name=$(basename "$file"); name=${name%%.ko*}; kept[${name//-/_}]=1
done
missing=()
for file in "${modules[@]}"; do
    for dep in $(modinfo -F depends "$file" | tr ',' ' '); do
        [ -n "${kept[${dep//-/_}]:-}" ] || missing+=("$(basename "$file") needs $dep")
    done
done
[ ${#missing[@]} = 0 ] || sbx_fail "${#missing[@]} kept modules miss a dependency: ${missing[*]:0:20}"
# The wired cards of thin clients and docks, their USB adapters, virtual units, and graphics.
absent=
for name in e1000e igb igc r8169 tg3 bnx2 mii usbnet r8152 ax88179_178a cdc_ether cdc_ncm asix \
            virtio_net i915 amdgpu radeon virtio_gpu bochs cifs fuse usb_storage xhci_pci; do
    [ -n "${kept[$name]:-}" ] || absent="$absent $name"
done
[ -z "$absent" ] || sbx_fail "drivers missing from the image:$absent"
grep -q 'remote view (x11vnc) is OFF' "$check/image.out" && sbx_fail "the build says the remote view is off although a password was given"
echo "unit image: ${#modules[@]} kernel modules, every dependency kept; $(du -sm --apparent-size "$BRENLOW_BUILD/pxe" | cut -f1) MB in build/pxe"
