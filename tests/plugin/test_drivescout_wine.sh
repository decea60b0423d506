#!/bin/bash
# The real plug-in on (wine's) Windows, with real removable drives: wine is told that E:, G: and
# A: are removable ("floppy" in its drive table) and each points at a folder, so each has a
# mounted volume; H: is a CD drive with a volume, C: the fixed system drive. Expected answers:
# E: and E:|G: (A: is a floppy letter, H: is not removable).
#  1. the Windows test program loads DriveScout.dll, builds an installer string stack, calls both
#     exports and checks what they pushed (its own output is checked, not only its exit status);
#  2. a real installer built by makensis calls both commands silently (/S) and writes the
#     answers to a file (32-bit only: the installer and its plug-in are 32-bit programs).
# DRIVESCOUT_WINE_ARCH says which build runs: win32 (the shipped DLL, under the 32-bit wine
# loader itself: the wine wrapper falls back to wine64, which cannot run a 32-bit program and
# still exits 0) or win64 (the same sources built for x86_64, under wine64, for kernels that
# cannot execute 32-bit programs). DRIVESCOUT_DLL and DRIVESCOUT_CHECK name the two files.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"

arch=${DRIVESCOUT_WINE_ARCH:-win32}
# wine32 is the one optional package: the set-up installs it on a best-effort basis (its i386
# package index may be unreachable for hours), so the 32-bit run without it is skipped with that
# reason, also under CI=true. A kernel that cannot execute 32-bit programs at all (no ia32
# emulation) is the machine's: no set-up can mend it, so that is skipped under CI too; the win64
# run covers the same code there. Anything else missing is the set-up's fault and fails under CI.
cannot_run() {
    sbx_skip "cannot run the plug-in under wine ($arch): $1"
}
optional_part_missing() {
    sbx_skip_even_in_ci "cannot run the plug-in under wine ($arch): $1"
}

case "$arch" in
    win32) loader=/usr/lib/wine/wine; package=wine32:i386 ;;
    win64) loader=/usr/lib/wine/wine64; package=wine64 ;;
    *) echo "FAIL: DRIVESCOUT_WINE_ARCH must be win32 or win64, not $arch"; exit 1 ;;
esac
if [ "$arch" = win32 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    optional_part_missing "wine32 is not installed (scripts/setup installs it when the i386 packages can be fetched; it said why not)"
fi
[ -x "$loader" ] || cannot_run "$loader is missing (package $package)"
version=$("$loader" --version 2>&1)
case "$version" in
    wine-*) ;;
    *"Exec format error"*)
        optional_part_missing "this kernel cannot execute 32-bit programs ($version)" ;;
    *) cannot_run "the loader does not start here ($version)" ;;
esac
command -v makensis >/dev/null || { echo "FAIL: makensis missing (package nsis)"; exit 1; }
dll=${DRIVESCOUT_DLL:-}
checker=${DRIVESCOUT_CHECK:-}
[ -f "$dll" ] || { echo "FAIL: the plug-in DLL ($dll) was not built"; exit 1; }
[ -f "$checker" ] || { echo "FAIL: the test program ($checker) was not built"; exit 1; }

work=$(mktemp -d /tmp/drivescout-wine.XXXXXX)
export WINEPREFIX="$work/prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export HOME="$work"
wine() { timeout 300 "$loader" "$@"; }
finish() {
    timeout 30 /usr/lib/wine/wineserver -k 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

# One prefix for both checks: its first start is the slow part.
wine wineboot -i > "$work/wineboot.log" 2>&1 || { echo "FAIL: wineboot:"; tail -20 "$work/wineboot.log"; exit 1; }
/usr/lib/wine/wineserver -w

# The drives: folders behind drive letters, typed in wine's drive table. Wine reads the table
# when it starts, so the server is stopped after the change.
for letter in a e g h; do
    mkdir -p "$work/media/$letter"
    echo "volume $letter" > "$work/media/$letter/label.txt"
    ln -sfn "$work/media/$letter" "$WINEPREFIX/dosdevices/$letter:"
done
for entry in a:floppy e:floppy g:floppy h:cdrom; do
    wine reg add 'HKLM\Software\Wine\Drives' /v "${entry%%:*}:" /t REG_SZ /d "${entry#*:}" /f > /dev/null 2>&1 ||
        { echo "FAIL: cannot set the drive type of ${entry%%:*}:"; exit 1; }
done
/usr/lib/wine/wineserver -k 2>/dev/null
/usr/lib/wine/wineserver -w

fail=0

# 1. The test program next to the DLL (LoadLibrary looks in the program's folder first).
mkdir -p "$work/check"
cp "$checker" "$work/check/drivescout_check.exe" && cp "$dll" "$work/check/DriveScout.dll"
(cd "$work/check" && wine ./drivescout_check.exe DriveScout.dll 'E:' 'E:|G:') > "$work/check.out" 2>&1
rc=$?
cat "$work/check.out"
if [ $rc -eq 0 ] && grep -qx 'checks passed: 15 of 15' <(tr -d '\r' < "$work/check.out"); then
    echo "ok the test program's 15 checks passed under wine ($arch)"
else
    echo "FAIL the test program (exit status $rc)"; fail=1
fi

# 2. A real installer, run silently.
[ "$arch" = win32 ] || exit $fail
mkdir -p "$work/installer" "$work/plugins"
cp "$dll" "$work/plugins/DriveScout.dll"
if ! makensis -V2 -DPLUGINDIR="$work/plugins" -DOUTFILE="$work/installer/probe.exe" \
    "$BRENLOW_TESTS/plugin/drivescout-probe.nsi" > "$work/makensis.log" 2>&1; then
    echo "FAIL makensis:"; cat "$work/makensis.log"; exit 1
fi
(cd "$work/installer" && wine ./probe.exe /S) > "$work/installer.out" 2>&1
rc=$?
/usr/lib/wine/wineserver -w
answers=$(tr -d '\r' < "$work/installer/answers.txt" 2>/dev/null)
want=$(printf 'first=E:\nbelow-first=below\nall=E:|G:\nbelow-all=below')
if [ "$answers" = "$want" ]; then
    echo "ok the installer wrote the plug-in's answers:"; printf '%s\n' "$answers"
else
    echo "FAIL the installer (exit status $rc) wrote:"; printf '%s\n' "${answers:-<no answers file>}"
    echo "want:"; printf '%s\n' "$want"; cat "$work/installer.out"; fail=1
fi
exit $fail
