#!/bin/bash
# Builds the network-boot folder (build/pxe) from the packages of this build, for the
# virtual-unit test. The package cache outside the build makes a repeated run download nothing
# that did not change; the time taken is printed.
. "$BRENLOW_TESTS/sandbox/lib.sh"
[ "$(id -u)" = 0 ] || sbx_skip "unit image: mmdebstrap needs root"
for tool in mmdebstrap mksquashfs cpio; do
    command -v "$tool" >/dev/null || sbx_skip "unit image: $tool is missing (scripts/setup installs it)"
done
started=$(date +%s)
BRENLOW_NO_BUILD=1 "$BRENLOW_SOURCE/scripts/netboot-image" "$BRENLOW_BUILD/pxe" || sbx_fail "scripts/netboot-image failed"
echo "unit image: built in $(( $(date +%s) - started )) s"
