#!/bin/bash
# The built plug-in as the installer sees it: a 32-bit PE DLL whose two exports carry their
# plain names (no cdecl underscore, no stdcall @16), importing nothing but the Windows kernel
# (no C runtime either). objdump from the mingw-w64 binutils reads the PE headers.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"

dll="$BRENLOW_BIN/DriveScout.dll"
objdump=i686-w64-mingw32-objdump
[ -f "$dll" ] || { echo "FAIL: $dll was not built"; exit 1; }
command -v "$objdump" >/dev/null || { echo "FAIL: $objdump missing (package binutils-mingw-w64-i686)"; exit 1; }

headers=$("$objdump" -p "$dll") || { echo "FAIL: objdump cannot read $dll"; exit 1; }
fail=0
expect() { # expect WHAT GOT WANT
    if [ "$2" = "$3" ]; then echo "ok $1"; else echo "FAIL $1: got [$2], want [$3]"; fail=1; fi
}

expect "PE32 for i386" "$(printf '%s\n' "$headers" | grep -o 'file format pei-i386' | head -1)" "file format pei-i386"
expect "a DLL" "$(printf '%s\n' "$headers" | grep -c '^Characteristics.*' ) $(printf '%s\n' "$headers" | grep -c 'DLL$')" "1 1"

# Export names from the name pointer table: exactly the two, undecorated.
exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
expect "exports" "$exports" "GetAllUsbDrives GetFirstUsbDrive "

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
expect "imports" "$imports" "KERNEL32.DLL "

# The four drive calls and the installer's allocator come from the kernel.
for fn in GetLogicalDriveStringsA GetDriveTypeA GetVolumeInformationA SetErrorMode GlobalAlloc GlobalFree; do
    expect "imports $fn" "$(printf '%s\n' "$headers" | grep -c "[[:space:]]$fn\$")" "1"
done
exit $fail
