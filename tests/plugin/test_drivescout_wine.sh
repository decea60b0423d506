#!/bin/bash
# The real plug-in on (wine's) Windows, with real removable drives: wine is told that E:, G: and
# A: are removable ("floppy" in its drive table) and each points at a folder, so each has a
# mounted volume; H: is a CD drive with a volume, C: the fixed system drive. Expected answers:
# E: and E:|G: (A: is a floppy letter, H: is not removable).
#  1. the Windows test program loads DriveScout.dll, builds an installer string stack, calls both
#     exports and checks what they pushed (its own output is checked, not only its exit status:
#     wine's wrapper exits 0 even when it could not start a program at all);
#  2. a real installer built by makensis calls both commands silently (/S) and writes the
#     answers to a file (32-bit only: the installer and its plug-in are 32-bit programs).
# drivescout-wine-run runs both and records what happened; this script judges the record.
# DRIVESCOUT_WINE_ARCH says which build runs: win32 (the shipped DLL, under the 32-bit wine
# loader itself) or win64 (the same sources built for x86_64, under wine64). DRIVESCOUT_DLL and
# DRIVESCOUT_CHECK name the two files.
#
# Where: the 32-bit run needs wine32 and a kernel that executes 32-bit programs. Where this
# machine has both, it runs here; otherwise it runs in the wine virtual machine (wine-vm: Debian's
# kernel in QEMU, whose root the test fixture drivescout_wine_vm builds or finds cached), and the
# record comes back through its serial port to be judged here in the same way.
set -u
. "$BRENLOW_TESTS/sandbox/lib.sh"
here=$BRENLOW_TESTS/plugin

arch=${DRIVESCOUT_WINE_ARCH:-win32}
case "$arch" in
    win32) loader=/usr/lib/wine/wine ;;
    win64) loader=/usr/lib/wine/wine64 ;;
    *) echo "FAIL: DRIVESCOUT_WINE_ARCH must be win32 or win64, not $arch"; exit 1 ;;
esac
dll=${DRIVESCOUT_DLL:-}
checker=${DRIVESCOUT_CHECK:-}
[ -f "$dll" ] || { echo "FAIL: the plug-in DLL ($dll) was not built"; exit 1; }
[ -f "$checker" ] || { echo "FAIL: the test program ($checker) was not built"; exit 1; }

route=here
if [ "$arch" = win32 ]; then
    "$here/wine-vm" native >/dev/null 2>&1 || route=vm
else
    [ -x "$loader" ] || sbx_skip "cannot run the plug-in under wine ($arch): $loader is missing (package wine64)"
    version=$("$loader" --version 2>&1)
    case "$version" in
        wine-*) ;;
        *) sbx_skip "cannot run the plug-in under wine ($arch): the loader does not start here ($version)" ;;
    esac
fi
if [ "$route" = vm ]; then
    command -v qemu-system-x86_64 >/dev/null ||
        sbx_skip "this machine cannot run 32-bit wine and qemu-system-x86_64 is missing for the wine virtual machine (package qemu-system-x86)"
    "$here/wine-vm" built >/dev/null 2>&1 ||
        sbx_skip "this machine cannot run 32-bit wine and the wine virtual machine is not built (the test fixture drivescout_wine_vm builds it: ctest -R drivescout_wine)"
fi

work=$(mktemp -d /tmp/drivescout-wine.XXXXXX)
trap 'rm -rf "$work"' EXIT

installer=-
if [ "$arch" = win32 ]; then
    command -v makensis >/dev/null || { echo "FAIL: makensis missing (package nsis)"; exit 1; }
    mkdir -p "$work/plugins"
    cp "$dll" "$work/plugins/DriveScout.dll"
    if ! makensis -V2 -DPLUGINDIR="$work/plugins" -DOUTFILE="$work/probe.exe" \
        "$here/drivescout-probe.nsi" > "$work/makensis.log" 2>&1; then
        echo "FAIL makensis:"; cat "$work/makensis.log"; exit 1
    fi
    installer=$work/probe.exe
fi

record=$work/record
if [ "$route" = here ]; then
    echo "running under wine on this machine ($arch)"
    "$here/drivescout-wine-run" "$arch" "$loader" "$dll" "$checker" "$installer" "$record"
else
    echo "this machine cannot run 32-bit wine programs: running under wine in the wine virtual machine"
    job=$work/job
    mkdir -p "$job"
    cp "$here/drivescout-wine-run" "$dll" "$checker" "$installer" "$job/" || exit 1
    cat > "$job/run" <<EOF
#!/bin/sh
exec ./drivescout-wine-run $arch $loader ./${dll##*/} ./${checker##*/} ./${installer##*/} "\$BRENLOW_OUT"
EOF
    chmod +x "$job/run"
    start=$SECONDS
    "$here/wine-vm" run "$job" "$record" 780 || { echo "FAIL: the wine virtual machine did not deliver the record"; exit 1; }
    echo "the wine virtual machine booted, ran the plug-in and powered off in $((SECONDS - start)) s"
    if [ "$(cat "$record/run.rc" 2>/dev/null)" != 0 ]; then
        echo "FAIL: the run in the virtual machine ended with status $(cat "$record/run.rc" 2>/dev/null):"
        cat "$record/run.log" 2>/dev/null
        exit 1
    fi
fi

# The judgement, the same for both routes.
if [ -f "$record/setup.failed" ]; then
    echo "FAIL: wine could not be prepared:"; cat "$record/setup.failed"; exit 1
fi
fail=0
rc=$(cat "$record/check.rc" 2>/dev/null || echo "none: it did not run")
cat "$record/check.out" 2>/dev/null
if [ "$rc" = 0 ] && grep -qx 'checks passed: 15 of 15' <(tr -d '\r' < "$record/check.out"); then
    echo "ok the test program's 15 checks passed under wine ($arch)"
else
    echo "FAIL the test program (exit status $rc)"; fail=1
fi

[ "$arch" = win32 ] || exit $fail
rc=$(cat "$record/installer.rc" 2>/dev/null || echo "none: it did not run")
answers=$(tr -d '\r' < "$record/answers.txt" 2>/dev/null)
want=$(printf 'first=E:\nbelow-first=below\nall=E:|G:\nbelow-all=below')
if [ "$answers" = "$want" ]; then
    echo "ok the installer wrote the plug-in's answers:"; printf '%s\n' "$answers"
else
    echo "FAIL the installer (exit status $rc) wrote:"; printf '%s\n' "${answers:-<no answers file>}"
    echo "want:"; printf '%s\n' "$want"; cat "$record/installer.out" 2>/dev/null; fail=1
fi
exit $fail
