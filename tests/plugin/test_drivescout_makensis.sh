#!/bin/bash
# makensis (Debian's nsis) compiles an installer script calling both plug-in commands, finding the
# plug-in through !addplugindir: it reads the DLL's export table, so a missing or decorated
# export fails the build. The same script without the plug-in folder must fail, or the check
# would prove nothing.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"

script="$BRENLOW_TESTS/plugin/drivescout-probe.nsi"
command -v makensis >/dev/null || { echo "FAIL: makensis missing (package nsis)"; exit 1; }
work=$(mktemp -d /tmp/drivescout-nsis.XXXXXX)
mkdir -p "$work/plugins" "$work/empty"
cp "$BRENLOW_BIN/DriveScout.dll" "$work/plugins/" || { echo "FAIL: no DriveScout.dll"; exit 1; }

fail=0
if makensis -V2 -DPLUGINDIR="$work/plugins" -DOUTFILE="$work/probe.exe" "$script" > "$work/log" 2>&1 &&
    [ -s "$work/probe.exe" ]; then
    echo "ok makensis builds the installer with the plug-in"
else
    echo "FAIL makensis with the plug-in:"; cat "$work/log"; fail=1
fi
if makensis -V2 -DPLUGINDIR="$work/empty" -DOUTFILE="$work/none.exe" "$script" > "$work/log2" 2>&1; then
    echo "FAIL makensis built the installer without the plug-in"; fail=1
elif grep -q "DriveScout::GetFirstUsbDrive" "$work/log2"; then
    echo "ok without the plug-in makensis refuses DriveScout::GetFirstUsbDrive"
else
    echo "FAIL makensis failed without the plug-in for another reason:"; cat "$work/log2"; fail=1
fi
rm -rf "$work"
exit $fail
