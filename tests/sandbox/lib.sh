# Shell side of the test sandbox: sourced by shell tests running under run-in-sandbox, and by
# run-in-sandbox itself for clean-up. Functions are prefixed sbx_.

# Partition node of a drive: names ending in a digit (loop3, nvme0n1, mmcblk0) take "p".
sbx_part() {
    case "$1" in
        *[0-9]) echo "${1}p$2" ;;
        *) echo "$1$2" ;;
    esac
}

# sbx_drive NAME SIZE [SECTOR]: a sparse image of SIZE (truncate's units: 64M, 11G) on a free loop
# device, with SECTOR-byte logical sectors when given (512 otherwise); prints the device
# (/dev/loopN). The device is detached when the sandbox ends.
sbx_drive() {
    local img="$BRENLOW_SANDBOX/drives/$1.img" dev
    truncate -s "$2" "$img" || return 1
    dev=$(losetup -f --show ${3:+-b "$3"} "$img") || return 1
    echo "$dev" >> "$BRENLOW_SANDBOX/loops"
    # Partitions told to the kernel outlive a detach: drop what an earlier user of this loop
    # device left, or its nodes would map onto our new image.
    partx -d "$dev" 2>/dev/null
    echo "$dev"
}

# sbx_attach FILE [LOSETUP-OPTIONS...]: FILE (one outside the sandbox's drives folder too, such as
# a FUSE test drive) on a free loop device, recorded with its backing file so that the sandbox's
# clean-up detaches it also when the test dies first; prints the device.
sbx_attach() {
    local file=$1 dev; shift
    dev=$(losetup -f --show "$@" "$file") || return 1
    echo "$dev $(losetup -n -O BACK-FILE "$dev" 2>/dev/null)" >> "$BRENLOW_SANDBOX/loops"
    partx -d "$dev" 2>/dev/null
    echo "$dev"
}

# sbx_le32 N: N as the four bytes of a little-endian 32-bit number (for patching tables by hand).
sbx_le32() {
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))"
}

# sbx_probe DEV: make the partition nodes of DEV known (the kernel here parses no tables itself)
# and wait until every partition listed by sfdisk has its node.
sbx_probe() {
    local dev=$1 n tries
    partprobe "$dev" 2>/dev/null || partx -u "$dev" 2>/dev/null
    for n in $(sfdisk -l -q -o Device "$dev" 2>/dev/null | tail -n +2 | sed 's/.*[^0-9]//'); do
        tries=0
        while [ ! -b "$(sbx_part "$dev" "$n")" ] && [ $tries -lt 50 ]; do
            sleep 0.1; tries=$((tries + 1))
        done
    done
}

# sbx_gpt DEV SGDISK-ARGS...: a fresh GPT made by sgdisk, then probed.
sbx_gpt() {
    local dev=$1; shift
    sgdisk -Z "$dev" >/dev/null 2>&1
    sgdisk "$@" "$dev" >/dev/null || return 1
    sbx_probe "$dev"
}

# sbx_dos DEV: a fresh DOS table from the sfdisk script on standard input, then probed.
sbx_dos() {
    local dev=$1
    sfdisk -q --wipe always "$dev" >/dev/null || return 1
    sbx_probe "$dev"
}

# sbx_double NAME: the script on standard input becomes the test double NAME, first on PATH.
sbx_double() {
    cat > "$BRENLOW_SANDBOX/doubles/$1" && chmod +x "$BRENLOW_SANDBOX/doubles/$1"
}

# sbx_ahd DEV: ahd.sh names DEV (without /dev/) as the system drive.
sbx_ahd() {
    printf '#!/bin/sh\necho %s\n' "${1#/dev/}" | sbx_double ahd.sh
}

# sbx_usb_view PARTITION...: binds a view of /sys/class/block over it in which the given
# partitions (/dev/loop5p1 ...) belong to USB disks: their links lead through a "usb1" folder and
# their folders hold a "partition" file, as the kernel shows a stick. Other entries stay real.
sbx_usb_view() {
    local view="$BRENLOW_SANDBOX/sysview" devices="$BRENLOW_SANDBOX/sysdevices/pci0000:00/usb1/1-1/1-1:1.0/block"
    local e part name
    umount /sys/class/block 2>/dev/null || true
    rm -rf "$view" && mkdir -p "$view" || return 1
    for e in /sys/class/block/*; do
        ln -s "$(readlink -f "$e")" "$view/${e##*/}" || return 1
    done
    for part in "$@"; do
        name=${part##*/}
        mkdir -p "$devices/$name" && echo 1 > "$devices/$name/partition" || return 1
        rm -f "$view/$name" && ln -s "$devices/$name" "$view/$name" || return 1
    done
    mount --bind "$view" /sys/class/block
}

# sbx_bind DOUBLE TARGET: put DOUBLE over a fixed absolute path (/usr/sbin/dmidecode ...). Targets
# under /etc or /opt may be missing: those folders are overlays, so the target is created there.
sbx_bind() {
    mkdir -p "$(dirname "$2")"
    [ -e "$2" ] || : > "$2"
    mount --bind "$1" "$2"
}

# Detaches every loop device a sandbox work folder lists.
sbx_detach_all() {
    local dev back
    [ -f "$1/loops" ] || return 0
    while read -r dev recorded; do
        [ -n "$dev" ] || continue
        # A device this sandbox released earlier may back another sandbox's drive by now: only
        # one still over our drive image, or over the very file recorded when it was attached,
        # is ours.
        back=$(losetup -n -O BACK-FILE "$dev" 2>/dev/null)
        if [ -n "$recorded" ]; then
            [ "$back" = "$recorded" ] || continue
        else
            case "$back" in "$1"/*) ;; *) continue ;; esac
        fi
        partx -d "$dev" 2>/dev/null
        # A read-only mark set by a test would outlive the detach and hit the next user.
        blockdev --setrw "$dev" 2>/dev/null
        losetup -d "$dev" 2>/dev/null
    done < "$1/loops"
    return 0
}

# Sandboxes killed without their clean-up (a test runner's time-out) leave loop devices and
# folders behind; release those whose owner process is gone.
sbx_reap_stale() {
    local dir owner
    for dir in /var/tmp/brenlow-sandbox.*; do
        [ -d "$dir" ] || continue
        owner=$(cat "$dir/owner" 2>/dev/null)
        if [ -n "$owner" ] && kill -0 "$owner" 2>/dev/null; then
            continue
        fi
        sbx_detach_all "$dir"
        rm -rf "$dir"
    done
}

# The line that tells CTest a test was skipped (BRENLOW_SKIP_MARK in tests/CMakeLists.txt). It is
# printed only where a test cannot run at all, never by a test that ran.
SBX_SKIP_MARK="BRENLOW-TEST-SKIPPED: "

# sbx_skip REASON: this test cannot run on this machine. Prints the skip line and ends with 77;
# with CI=true that is a failure instead, for CI must prove every test.
sbx_skip() {
    if [ "${CI:-}" = "true" ]; then
        echo "FAIL: $1 (CI=true, so this is a failure)"
        exit 1
    fi
    sbx_skip_even_in_ci "$1"
}

# sbx_skip_even_in_ci REASON: a skip that no set-up can mend; allowed under CI=true too.
sbx_skip_even_in_ci() {
    echo "${SBX_SKIP_MARK}$1"
    exit 77
}

# A failed check in a shell test: print where and why, then fail the test.
sbx_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# sbx_expect_eq WHAT EXPECTED ACTUAL
sbx_expect_eq() {
    if [ "$2" != "$3" ]; then
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3" >&2
        exit 1
    fi
}

# sbx_unit_drive DEV: DEV becomes a unit's Windows system drive: GPT with an EFI partition (FAT32,
# 100 MiB), a reserved partition (16 MiB) and an NTFS data partition filling the rest, holding
# Users/Technician/Documents/numbers.txt and a 20 MiB data.bin of random bytes.
sbx_unit_drive() {
    local dev=$1 fill="$BRENLOW_SANDBOX/fill.$$"
    sbx_gpt "$dev" -n 1:2048:+100M -t 1:ef00 -c 1:EFI -n 2:0:+16M -t 2:0c01 -c 2:Reserved \
        -n 3:0:0 -t 3:0700 -c 3:Data || return 1
    mkdosfs -F 32 -n EFI "$(sbx_part "$dev" 1)" >/dev/null || return 1
    mkntfs -Q -q -L Data "$(sbx_part "$dev" 3)" || return 1
    mkdir -p "$fill" && ntfs-3g "$(sbx_part "$dev" 3)" "$fill" || return 1
    mkdir -p "$fill/Users/Technician/Documents"
    seq 1 200000 > "$fill/Users/Technician/Documents/numbers.txt"
    head -c 20M /dev/urandom > "$fill/Users/Technician/Documents/data.bin"
    fusermount -u "$fill" && rmdir "$fill"
}
