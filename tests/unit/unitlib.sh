# What the virtual-unit tests share: phases with their times, scripts/unit and its QMP socket,
# and a unit driven through its screen, keyboard and mouse. Sourced after the sandbox's lib.sh,
# with source_dir (the source tree) and work (this test's folder in the sandbox) set.

phase_started=0
phase() { phase_started=$(date +%s); echo "== $*"; }
phase_done() { echo "== $1: $(( $(date +%s) - phase_started )) s"; }

unit() { "$source_dir/scripts/unit" "$@"; }
qmp() { "$source_dir/scripts/qmp" "$work/qmp.sock" "$@"; }

# picture_check MODE PPM ...: checks a picture of the unit's screen (see unit_picture.py).
picture_check() { python3 "$BRENLOW_TESTS/unit/unit_picture.py" "$@"; }

# unit_start LOG ARGS...: boots a unit (scripts/unit with ARGS) in the background, its QMP
# socket at $work/qmp.sock; unit_pid is scripts/unit's process, whose network namespace is the
# unit's network (nsenter -t $unit_pid -n).
unit_log= unit_pid=
unit_start() {
    unit_log=$1
    shift
    "$source_dir/scripts/unit" --log "$unit_log" --qmp "$work/qmp.sock" "$@" &
    unit_pid=$!
}
# A unit still running when the test ends is powered off first (QEMU told to quit), so that
# scripts/unit removes what it made before the sandbox ends.
unit_stop() {
    [ -n "$unit_pid" ] && kill -0 "$unit_pid" 2>/dev/null || return 0
    qmp '{"execute":"quit"}' >/dev/null 2>&1 || kill "$unit_pid"
    wait "$unit_pid"
}
# A failure shows the serial log's lines that match unit_log_lines (the console's, by default).
unit_log_lines='pxe_client: '
unit_fail() {
    grep -a "$unit_log_lines" "$unit_log" | grep -v 'server ip' | tail -n 40
    sbx_fail "$@"
}
# wait_for SECONDS PATTERN: until a line of the unit's serial log matches (fails when the unit ends).
wait_for() {
    local limit=$(( $(date +%s) + $1 ))
    until grep -aq "$2" "$unit_log" 2>/dev/null; do
        [ "$(date +%s)" -lt "$limit" ] && kill -0 "$unit_pid" 2>/dev/null || return 1
        sleep 1
    done
}
screen() { qmp "{\"execute\":\"screendump\",\"arguments\":{\"filename\":\"$1\"}}" >/dev/null; }
# wait_screen SECONDS PPM MODE [REF...]: until the screen passes picture_check MODE; a dialog
# must differ from the REF pictures (the main window, the dialog before).
wait_screen() {
    local limit=$(( $(date +%s) + $1 )) picture=$2 mode=$3
    shift 3
    while :; do
        screen "$picture" && picture_check "$mode" "$picture" "$@" >/dev/null 2>&1 && return 0
        [ "$(date +%s)" -lt "$limit" ] || { picture_check "$mode" "$picture" "$@"; return 1; }
        sleep 1
    done
}
# wait_text SECONDS PPM WORDS...: until the screen reads WORDS (tesseract); prints where they are.
wait_text() {
    local limit=$(( $(date +%s) + $1 )) picture=$2
    shift 2
    while :; do
        screen "$picture" && picture_check find "$picture" "$@" 2>/dev/null && return 0
        [ "$(date +%s)" -lt "$limit" ] || { picture_check find "$picture" "$@"; return 1; }
        sleep 2
    done
}
# press_row N PPM: clicks the N-th button of the main window's menu (picture PPM) until a dialog
# shows (a click before the session takes pointer input is lost; one beside an open dialog
# changes nothing); the dialog's picture is PPM's name with .dialog.
press_row() {
    local x y attempt
    read -r x y < <(picture_check button "$2" "$1") || return 1
    for attempt in 1 2 3 4 5; do
        qmp "click:$x,$y" >/dev/null
        wait_screen 10 "${2%.ppm}.dialog.ppm" dialog "$2" 2>/dev/null && return 0
    done
    return 1
}

# stick_with_set SOURCE NAME: the engine backs up the drive SOURCE as the set images/NAME.bim
# (its output in $work/backup.log); the set goes onto a new 256 MiB stick, $work/stick.img (a DOS
# table and a FAT32 partition from 1 MiB, made and filled without mounting). Sets stick.
stick_with_set() {
    local source=$1 name=$2
    sbx_ahd "$source"
    mkdir -p "$work/set/images"
    vaultine -b bim "$work/set/images/$name.bim" > "$work/backup.log" 2>&1 ||
        { cat "$work/backup.log"; sbx_fail "the engine's backup of the source failed"; }
    stick=$work/stick.img
    truncate -s 256M "$stick"
    printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q "$stick" >/dev/null || sbx_fail "stick table"
    mkfs.vfat -F 32 -n STICK --offset 2048 "$stick" $(( 256 * 1024 - 1024 )) >/dev/null || sbx_fail "mkfs.vfat"
    MTOOLS_SKIP_CHECK=1 mcopy -i "$stick@@1M" -s "$work/set/images" ::/ || sbx_fail "mcopy"
}
