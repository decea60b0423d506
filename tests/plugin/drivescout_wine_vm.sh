#!/bin/bash
# Test fixture of test_drivescout_wine: the wine virtual machine (wine-vm) its 32-bit run needs
# where this machine cannot run 32-bit wine programs. Built from Debian's package archive, so it
# runs outside the sandbox (whose network is its own loopback), or found cached; where this
# machine runs 32-bit wine itself there is nothing to build.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"
vm=$BRENLOW_TESTS/plugin/wine-vm

if "$vm" native; then
    echo "this machine runs 32-bit wine programs itself: no virtual machine needed"
    exit 0
fi
[ "$(id -u)" = 0 ] || sbx_skip "building the wine virtual machine needs root (mmdebstrap)"
command -v mmdebstrap >/dev/null || sbx_skip "mmdebstrap is missing (package mmdebstrap)"
start=$SECONDS
"$vm" root || { echo "FAIL: the wine virtual machine could not be built"; exit 1; }
echo "the wine virtual machine is ready after $((SECONDS - start)) s"
