#!/usr/bin/env bash
# run.sh COLUMN BUILD NAME... - runs scenarios of scenarios.txt against one build of the installer on one kind
# of machine, a column of the table (columns.sh):
#   linux:   BUILD is a Linux build folder; its medium/setup runs with the script front end on a fresh machine
#            folder (PLAT_ROOT) per scenario;
#   win64, wow64, win32os: BUILD is the win64 (win64) or win32 build folder (wow64, win32os); its
#            medium/Setup.exe runs under Wine in a fresh copy of the template prefix (KAL_WINE_TEMPLATE: a
#            64-bit one for win64 and wow64, a 32-bit one for win32os), driven by bin/wizdrive.exe. In wow64
#            the 32-bit Setup.exe runs as on 64-bit Windows: its folder is under Program Files (x86) and its
#            uninstall entry under WOW6432Node, and an older version is seeded where a 32-bit installer would
#            have put it; its outcome names these places as the other columns do, so that compare.sh compares
#            them. In win32os it runs as on 32-bit Windows, where these places are the plain ones.
# The tools that seed and inspect a machine (machinedump, restext, plat-reg, pkgtool) and the sample files
# come from the linux build (build/linux), which is built here if need be. For each scenario the run writes
# NAME.log (what happened) and NAME.outcome (the report, the registry, the files and the links, in a form all
# columns share; compare.sh compares them) to BUILD/scenarios, or BUILD/scenarios-win32os for win32os. Exit
# code 0 when every expectation held.
set -uo pipefail

column=${1:?column: linux, win64, wow64 or win32os}
build=$(cd "${2:?build folder}" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
table=$here/scenarios.txt
host=$root/build/linux
user=$(id -un)
# shellcheck source=SCRIPTDIR/columns.sh
. "$here/columns.sh"
column_words "$column" >/dev/null || { echo "no column $column ($KAL_COLUMNS)"; exit 2; }
platform=wine
[ "${column%-cp1252}" = linux ] && platform=linux
# A column on a Western system: the machine's ANSI code page is 1252.
if [ "${column%-cp1252}" != "$column" ]; then
    export PLAT_ACP=1252 KAL_WINE_LANG=C.UTF-8
fi

if [ ! -x "$host/bin/machinedump" ] || [ ! -x "$host/bin/restext" ] || [ ! -f "$host/medium-src.list" ]; then
    [ -f "$host/build.ninja" ] || (cd "$root" && cmake --preset linux >/dev/null)
    cmake --build "$host" --target machinedump restext plat-reg pkgtool medium >/dev/null || exit 1
fi
samples=$host/medium-src
results=$build/scenarios
[ "$column" = win32os ] && results=$build/scenarios-win32os
[ "${column%-cp1252}" != "$column" ] && results=$build/scenarios-cp1252
mkdir -p "$results"

# The machine type of a PE file: 014c for i386, 8664 for x86_64.
pe_machine() {
    local off
    off=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((off + 4)) -N2 "$1" | tr -d ' '
}
# A Windows column runs the Setup.exe of its bitness on a prefix of its Windows: a 64-bit prefix says
# "#arch=win64" in its registry files, a 32-bit one "#arch=win32".
if [ "$platform" = wine ]; then
    want_pe=014c want_arch=win64
    [ "${column%-cp1252}" = win64 ] && want_pe=8664
    [ "$column" = win32os ] && want_arch=win32
    pe=$(pe_machine "$build/medium/Setup.exe")
    [ "$pe" = "$want_pe" ] || { echo "$build/medium/Setup.exe is no Setup.exe for $column (PE machine $pe)"; exit 2; }
    arch=$(sed -n 's/^#arch=//p' "${KAL_WINE_TEMPLATE:?}/prefix/system.reg" | head -1)
    [ "$arch" = "$want_arch" ] || { echo "the template prefix $KAL_WINE_TEMPLATE is #arch=${arch:-?}; $column needs $want_arch"; exit 2; }
fi
# The program-files folder (host form and Windows form) and the part of HKLM\Software the installer sees.
PF="Program Files"
WOW=""
if [ "$column" = wow64 ]; then
    PF="Program Files (x86)"
    WOW="WOW6432Node/"
fi
APPW="C:\\$PF\\Kalmor61"
OLDW="C:\\$PF\\Kalmori6"

# ---------------------------------------------------------------------------------------------------------
# The platform: a fresh machine, its registry, running the installer

WORK=""
machine_new() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/kalscen.XXXXXX")
    MEDIUM=$WORK/medium
    mkdir -p "$MEDIUM" "$WORK/seed"
    cp -a "$build/medium/." "$MEDIUM/"
    MEDIUMW="Z:$(echo "$MEDIUM" | tr / '\\')"
    FAULT=""
    HOLD=()
    if [ "$platform" = linux ]; then
        export PLAT_ROOT=$WORK/machine
        "$host/bin/plat-reg" query 'HKLM\Software' >/dev/null 2>&1 # makes the machine
        DRIVE_C=$PLAT_ROOT/drive_c
        SETUP=$MEDIUM/setup
        REG=("$host/bin/plat-reg")
    else
        . "$root/tests/wine-env.sh"
        cp -a "${KAL_WINE_TEMPLATE:?}/prefix" "$WORK/prefix"
        mkdir -p "$WORK/home"
        export HOME=$WORK/home WINEPREFIX=$WORK/prefix
        unset DISPLAY
        DRIVE_C=$WINEPREFIX/drive_c
        SETUP=$MEDIUMW\\Setup.exe
        # One session for the whole scenario, as one start of the machine: a persistent server keeps the
        # system's services running between the programs (each new session starts them again, about 8 s,
        # and carries out the operations left for the next start, which only reboot may do).
        cp "$build/bin/wizdrive.exe" "$WORK/wizdrive.exe"
        # The machine's own reg.exe: the 64-bit one on 64-bit Windows (which sees the 64-bit view, and the
        # 32-bit one under WOW6432Node), the 32-bit one on 32-bit Windows.
        REG=("$WINE64" reg)
        [ "$column" = win32os ] && REG=("$WINE" reg)
        "$WINESERVER" -p
        "${REG[@]}" query 'HKLM\Software' >/dev/null 2>&1 </dev/null # starts the session's services
    fi
}

machine_end() {
    if [ "$platform" = wine ]; then
        "$WINESERVER" -k >/dev/null 2>&1
        "$WINESERVER" -w >/dev/null 2>&1
    fi
    [ -n "$WORK" ] && [ -z "${KAL_KEEP:-}" ] && rm -rf "$WORK"
    WORK=""
}
trap machine_end EXIT

# reg_add VIEW KEY [NAME DATA]: a key under HKLM ("/" between names), or a string value in it, in the view the
# installer sees (VIEW "installer") or in the machine's own (VIEW "native"; the same but in wow64).
reg_add() {
    local view=$1
    shift
    local key="HKLM\\$(echo "$1" | tr / '\\')"
    [ "$view" = native ] || key="HKLM\\$(echo "$1" | sed "s|^Software/|Software/$WOW|" | tr / '\\')"
    if [ $# -ge 3 ]; then
        "${REG[@]}" add "$key" /v "$2" /d "$3" /f >/dev/null 2>&1
    else
        "${REG[@]}" add "$key" /f >/dev/null 2>&1
    fi
}

# reg_dump [native]: the uninstall area the installer sees (or the machine's own) as sorted lines
# "[KEY] VALUE", in UTF-8.
reg_dump() {
    local key="HKLM\\Software\\$(echo "$WOW" | tr / '\\')Microsoft\\Windows\\CurrentVersion\\Uninstall"
    [ "${1:-}" = native ] && key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
    local file=$WORK/export.reg
    rm -f "$file"
    if [ "$platform" = linux ]; then
        "${REG[@]}" export "$key" "$file" /y >/dev/null 2>&1
    else
        "${REG[@]}" export "$key" "Z:$(echo "$file" | tr / '\\')" /y >/dev/null 2>&1
    fi
    [ -f "$file" ] || { echo "(no uninstall area)"; return; }
    # Wine's reg.exe gives a key it adds an empty default value (@=""); the installer never writes one.
    iconv -f UTF-16 -t UTF-8 "$file" | tr -d '\r' | sed '1s/^\xef\xbb\xbf//' | grep -v '^@=""$' |
        awk '/^Windows Registry Editor/ {next} /^$/ {next} /^\[/ {key=tolower($0); i = index(key, "\\wow6432node\\"); if (i) key = substr(key, 1, i) substr(key, i + 13); print key; next} {print key " " $0}' |
        LC_ALL=C sort
}

# Runs the installer with the actions; its output goes to FILE.
run_setup() {
    run_program "$SETUP" "$@"
}

# run_uninstaller FILE installed|medium ACTION...: runs the uninstaller with the actions, the one in the
# application folder (which hands its work to a copy of itself in the temporary folder) or the medium's.
run_uninstaller() {
    local out=$1 which=$2
    shift 2
    local program=$MEDIUM/Uninst.exe
    if [ "$platform" = wine ]; then
        program=$MEDIUMW\\Uninst.exe
        [ "$which" = installed ] && program=$APPW\\Uninst.exe
    elif [ "$which" = installed ]; then
        program="$DRIVE_C/$PF/Kalmor61/Uninst.exe"
    fi
    run_program "$program" --follow "$out" "$@"
}

# run_program PROGRAM [--follow] FILE ACTION...: runs the installer or the uninstaller with the actions; its
# output goes to FILE. On Linux the output is read through a pipe, which ends only when every process that
# holds it has (the uninstaller's copy too); under Wine the driver follows the wizard to the copy.
run_program() {
    local program=$1 follow=()
    shift
    if [ "$1" = --follow ]; then
        follow=(--follow)
        shift
    fi
    local out=$1
    shift
    if [ "$platform" = linux ]; then
        PLAT_UI=script PLAT_SCRIPT="$*" PLAT_FAULT="$FAULT" timeout 120 "$program" 2>&1 | cat >"$out"
        return "${PIPESTATUS[0]}"
    else
        # A Windows console program's output has CRLF line ends. Rarely, on a loaded machine, the installer
        # ends under Wine before its dialog ever shows (nothing has been done then): one more run, said in
        # the output. The output goes to a file, not a pipe: services the program starts (explorer, rpcss)
        # stay in the session holding its output handles, and a pipe would never end.
        local try
        for try in 1 2; do
            (cd "$WORK" && timeout 120 "$WINE" wizdrive.exe --texts ${HOLD[@]+"${HOLD[@]}"} ${follow[@]+"${follow[@]}"} \
                "$program" "$@" >"$out.crlf" 2>&1)
            tr -d '\r' <"$out.crlf" >"$out"
            grep -q '^wizdrive: the installer ended (exit code [0-9]*) before its dialog appeared' "$out" || break
            if [ $try = 1 ]; then cp "$out" "$out.first"; fi
        done
        if [ -f "$out.first" ]; then
            { echo "(a first run ended before the dialog appeared:"; cat "$out.first"; echo ")"; } >>"$out"
        fi
    fi
}

# The machine starts again: the file operations left for its start are carried out (on Linux by plat-boot;
# under Wine a new session of the prefix is the machine's start, and wineboot -r begins one).
REBOOTED=""
reboot() {
    REBOOTED=1
    if [ "$platform" = linux ]; then
        "$host/bin/plat-boot" || fail "plat-boot failed"
    else
        wine_idle
        "$WINESERVER" -k >/dev/null 2>&1
        "$WINESERVER" -w >/dev/null 2>&1
        "$WINESERVER" -p
        "$WINE" wineboot -r >/dev/null 2>&1 </dev/null
        wine_idle
    fi
}

# wine_idle: waits (at most 120 s) until no program of this prefix runs but the system's own services,
# which the persistent session keeps: the uninstaller's copy, a started program and wineboot have ended.
wine_idle() {
    local end=$((SECONDS + 120)) pid busy
    while [ $SECONDS -lt $end ]; do
        busy=""
        for pid in $(pgrep -f '\\|wine' 2>/dev/null); do
            case $(readlink "/proc/$pid/exe") in "$(dirname "$WINE64")"/*) ;; *) continue ;; esac
            tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
            case $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) in
            "" | *wineserver* | *'\services.exe'* | *'\winedevice.exe'* | *'\plugplay.exe'* | *'\svchost.exe'* | \
                *'\explorer.exe'* | *'\rpcss.exe'* | *'\conhost.exe'*) ;;
            *) busy=$pid && break ;;
            esac
        done
        [ -z "$busy" ] && return 0
        sleep 0.1
    done
    echo "programs of the prefix still run after 120 s: $(tr '\0' ' ' <"/proc/$busy/cmdline" 2>/dev/null)"
    return 1
}

# The uninstaller's copies in the temporary folder (their names, one a line).
temp_copies() {
    find "$DRIVE_C/users/$user" -name 'Kalmor61-Uninst-*.exe' -printf '%f\n' 2>/dev/null
}

# The final page's text from the installer's output (a transcript, or wizdrive's report), or nothing.
report_of() {
    if [ "$platform" = linux ]; then
        awk '/^=== / {block=""; n=0} {lines[n++]=$0} /^--- / {if (final) {for (i=1;i<n-1;i++) if (lines[i] !~ /^[> ] \[/) print substr(lines[i],3); exit} }
             /^[> ] \[Закрыть\]/ {final=1}' "$1"
    else
        awk '/^--- end of report$/ {exit} on {print} /^--- report$/ {on=1}' "$1"
    fi | sed -e 's/[[:space:]]*$//' | awk 'NF {seen=1} seen' | tac | awk 'NF {seen=1} seen' | tac
}

# machinedump of C: paths (Windows form) on the machine.
dump() {
    if [ "$platform" = linux ]; then
        "$host/bin/machinedump" "$@"
    else
        PLAT_ROOT=$WINEPREFIX "$host/bin/machinedump" "$@"
    fi
}

# The link's target and working folder, as lnkinfo reads them.
link_info() {
    lnkinfo -c windows-1251 "$1" 2>/dev/null | awk -F': ' '/Local path/ {t=$2} /Working directory/ {w=$2} END {print "target=" t " workdir=" w}'
}

# ---------------------------------------------------------------------------------------------------------
# The table

# The lines of one scenario that hold in this column, with the path names replaced: the installer's
# program-files folder as the column has it, then {NATIVE}, the machine's own (the 64-bit one in wow64).
block() {
    scenario_lines "$table" "$1" "$column" |
        sed -e "s|{APP}|Program Files/Kalmor61|g" -e "s|{OLD}|Program Files/Kalmori6|g" -e "s|{USER}|$user|g" |
        if [ "$PF" = "Program Files" ]; then cat; else
            sed -e "s|Program Files/|$PF/|g" -e "s|C:\\\\Program Files\\\\|C:\\\\$PF\\\\|g"
        fi | sed -e "s|{NATIVE}|Program Files|g"
}

winpath() { echo "C:\\$(echo "$1" | tr / '\\')"; }

host_of() {
    case $1 in
    seed/*) echo "$WORK/$1" ;;
    medium/*) echo "$samples/${1#medium/}" ;;
    *) echo "$DRIVE_C/$1" ;;
    esac
}

# seed LINE: one seed of the table (the words after "seed").
# entry_at N: the offset of the medium package's entry N (from 1) and its data size, from its list; N 0 gives
# the offset where the entries end (where the sum starts).
entry_at() {
    PLAT_ROOT=$host/tool-machine "$host/bin/pkgtool" list "$MEDIUM/Install.pkg" |
        awk -v n="$1" '$1 == n {print off, $2; found = 1; exit} {off += 32 + $2} END {if (!found) print off, 0}'
}

# flip_bit FILE OFFSET: one bit (value 4) of the byte at OFFSET flipped.
flip_bit() {
    local b
    b=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
    # shellcheck disable=SC2059
    printf "$(printf '\\%03o' $((b ^ 4)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# damage_package KIND WHAT [N]: the medium's package damaged as a bad download or a scratched disc would:
#   flip header N | data N | sum | file PERCENT   one bit of entry N's header (its last write time), of the
#                                                 middle of its data, of the sum, or of the file as it lies
#                                                 (a compressed one: its compressed bytes) at PERCENT of it
#   cut header N | data N | end N | sum           cut inside entry N's header or data, just after entry N,
#                                                 inside the sum
#   append N                                      N bytes added at the end
#   swap N                                        entries N and N+1 change places
damage_package() {
    local kind=$1 what=$2 n=${3:-} pkg=$MEDIUM/Install.pkg off size size2 total
    total=$(stat -c %s "$pkg")
    case $kind/$what in
    flip/header) read -r off size <<<"$(entry_at "$n")"; flip_bit "$pkg" $((off + 20)) ;;
    flip/data) read -r off size <<<"$(entry_at "$n")"; flip_bit "$pkg" $((off + 32 + size / 2)) ;;
    flip/sum) read -r off size <<<"$(entry_at 0)"; flip_bit "$pkg" $(((off + total) / 2)) ;;
    flip/file) flip_bit "$pkg" $((total * n / 100)) ;;
    cut/header) read -r off size <<<"$(entry_at "$n")"; truncate -s $((off + 10)) "$pkg" ;;
    cut/data) read -r off size <<<"$(entry_at "$n")"; truncate -s $((off + 32 + size / 2)) "$pkg" ;;
    cut/end) read -r off size <<<"$(entry_at "$n")"; truncate -s $((off + 32 + size)) "$pkg" ;;
    cut/sum) read -r off size <<<"$(entry_at 0)"; truncate -s $(((off + total) / 2)) "$pkg" ;;
    append/*) head -c "$what" /dev/urandom >>"$pkg" ;;
    swap/*)
        read -r off size <<<"$(entry_at "$what")"
        read -r _ size2 <<<"$(entry_at $((what + 1)))"
        {
            head -c "$off" "$pkg"
            tail -c +$((off + 32 + size + 1)) "$pkg" | head -c $((32 + size2))
            tail -c +$((off + 1)) "$pkg" | head -c $((32 + size))
            tail -c +$((off + 64 + size + size2 + 1)) "$pkg"
        } >"$WORK/swapped" && mv "$WORK/swapped" "$pkg"
        ;;
    *) fail "unknown damage $kind $what" ;;
    esac
}

seed() {
    local what rest
    read -r what rest <<<"$1"
    case $what in
    install)
        # shellcheck disable=SC2086
        run_setup "$WORK/seed-install.out" ${rest:-next cancel}
        FAULT="" HOLD=()
        ;;
    uninstall)
        # shellcheck disable=SC2086
        run_uninstaller "$WORK/seed-uninstall.out" $rest
        [ "$platform" = linux ] || wine_idle
        FAULT="" HOLD=()
        ;;
    readonly) chmod a-w "$DRIVE_C/$rest" ;;
    busy)
        # A file in use: open without sharing under Wine; on Linux, where sharing does not cross processes,
        # its deletion fails as it would.
        if [ "$platform" = linux ]; then
            FAULT="DeleteFileA 32 $(winpath "$rest")"
        else
            HOLD=(--hold "$(winpath "$rest")")
        fi
        ;;
    medium)
        local kind n
        read -r kind n <<<"$rest"
        case $kind in
        no-package) rm -f "$MEDIUM/Install.pkg" ;;
        no-uninst) rm -f "$MEDIUM/Uninst.exe" ;;
        short-package)
            head -n "$n" "$host/medium-src.list" >"$WORK/short.list"
            PLAT_ROOT=$host/tool-machine "$host/bin/pkgtool" pack "$MEDIUM/Install.pkg" "@$WORK/short.list" >/dev/null
            ;;
        compressed)
            cp "$MEDIUM/Install.pkg" "$WORK/pkg" && mscompress "$WORK/pkg" && mv "$WORK/pkg_" "$MEDIUM/Install.pkg"
            ;;
        no-sum)
            PLAT_ROOT=$host/tool-machine "$host/bin/pkgtool" pack --no-sum "$MEDIUM/Install.pkg" \
                "@$host/medium-src.list" >/dev/null
            ;;
        flip | cut | swap | append) damage_package "$kind" $n ;;
        *) fail "unknown medium seed $kind" ;;
        esac
        ;;
    reg | native-reg)
        local key name data view=installer
        [ "$what" = native-reg ] && view=native
        read -r key name data <<<"$rest"
        if [ -n "$name" ]; then
            reg_add $view "$key" "$name" "$data"
        else
            reg_add $view "$key"
        fi
        ;;
    dir) mkdir -p "$DRIVE_C/$rest" ;;
    file)
        local file=${rest%% = *} text="contents of ${rest%% = *}"
        text=${text//"$PF"/Program Files} # the same bytes from every build
        [ "$file" != "$rest" ] && text=${rest#* = }
        mkdir -p "$(dirname "$DRIVE_C/$file")" "$(dirname "$WORK/seed/$file")"
        printf '%s\n' "$text" >"$DRIVE_C/$file"
        touch -d '2023-05-01 12:00:00 UTC' "$DRIVE_C/$file"
        cp -p "$DRIVE_C/$file" "$WORK/seed/$file"
        ;;
    change)
        local mode
        mode=$(stat -c %a "$DRIVE_C/$rest")
        chmod u+w "$DRIVE_C/$rest"
        printf 'changed by the scenario: %s\n' "${rest//"$PF"/Program Files}" >"$DRIVE_C/$rest" # as in "file"
        touch -d '2023-05-01 12:00:00 UTC' "$DRIVE_C/$rest"
        chmod "$mode" "$DRIVE_C/$rest"
        ;;
    remove) rm -rf "${DRIVE_C:?}/$rest" ;;
    symlink) ln -s "$DRIVE_C/${rest#* -> }" "$DRIVE_C/${rest%% -> *}" ;;
    unreadable)
        if [ "$platform" = linux ]; then
            FAULT="CopyFileA 32 $(winpath "$rest")"
        else
            HOLD=(--hold "$(winpath "$rest")")
        fi
        ;;
    *) fail "unknown seed $what" ;;
    esac
}

FAILED=0
fail() {
    echo "FAILED: $*"
    FAILED=1
}

# The packaged files as they must be installed, from the package's own list (attributes and times) and the
# sample files (names, sizes, bytes): "NAME ATTRS SIZE WRITE ACCESS [CREATION] HASH", the creation time where
# the platform keeps it (not under Wine).
packaged_files() {
    local ctime=$1
    local package=$MEDIUM/Install.pkg
    [ -f "$package" ] || package=$build/medium/Install.pkg
    PLAT_ROOT=$host/tool-machine "$host/bin/pkgtool" list "$package" >"$WORK/pkg.list"
    "$host/bin/machinedump" "$samples" >"$WORK/samples.dump"
    sed "s|^$samples/||" "$host/medium-src.list" | tr / '\\' >"$WORK/names"
    awk -v ctime="$ctime" '
        FILENAME == ARGV[1] {name[FNR] = $0; next}
        FILENAME == ARGV[2] {a = $3; gsub("-", "", a); if (a == "") a = "-";
                             attrs[FNR] = a; created[FNR] = substr($4, 1, 19); accessed[FNR] = substr($5, 1, 19);
                             written[FNR] = substr($6, 1, 19); next}
        $1 == "F" {size[$2] = $4; hash[$2] = $8}
        END {for (i = 1; i in name; i++) {n = name[i];
                 print n, attrs[i], size[n], written[i], accessed[i], (ctime ? created[i] : ""), hash[n]}}' \
        "$WORK/names" "$WORK/pkg.list" "$WORK/samples.dump"
}

# The files of a dump in the same form (attributes without the archive bit, which copies set).
files_of() {
    awk -v ctime="$2" '$1 == "F" && $2 != "Uninst.exe" {a = $3; gsub("A", "", a); if (a == "") a = "-";
        print $2, a, $4, $5, $6, (ctime ? $7 : ""), $8}' "$1"
}

check_app() {
    local kind=$1 n=${2:-}
    local got=$WORK/app.dump ctime=1
    [ "$platform" = wine ] && ctime=0
    dump "$APPW" >"$got"
    case $kind in
    absent)
        grep -q '^none ' "$got" || fail "the application folder is there"
        return
        ;;
    full) packaged_files $ctime | LC_ALL=C sort >"$WORK/want" ;;
    first) packaged_files $ctime | head -n "$n" | LC_ALL=C sort >"$WORK/want" ;;
    empty) : >"$WORK/want" ;;
    *) fail "unknown application state $kind" ;;
    esac
    files_of "$got" $ctime | LC_ALL=C sort >"$WORK/have"
    if ! diff -u "$WORK/want" "$WORK/have" >"$WORK/diff"; then
        fail "the application's files ($kind $n) are not as packaged:"
        head -40 "$WORK/diff"
    fi
    grep -q '^D Katalogy ' "$got" || fail "no Katalogy folder"
    grep -q '^D Modely ' "$got" || fail "no Modely folder"
    local have_uninst want_uninst
    have_uninst=$(awk '$1 == "F" && $2 == "Uninst.exe" {print $8}' "$got")
    want_uninst=$("$host/bin/machinedump" "$build/medium" | awk '$2 == "Uninst.exe" {print $8}')
    [ -n "$have_uninst" ] || fail "no Uninst.exe in the application folder"
    [ "$have_uninst" = "$want_uninst" ] || fail "Uninst.exe differs from the medium's"
}

LINK_START="users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kalmorist 6.1.lnk"
LINK_DESKTOP="users/$user/Desktop/Kalmorist 6.1.lnk"

check_link() {
    local path=$DRIVE_C/$1 state=$2
    if [ "$state" = absent ]; then
        [ ! -f "$path" ] || fail "link $1 is there"
        return
    fi
    [ -f "$path" ] || { fail "no link $1"; return; }
    local info want
    info=$(link_info "$path")
    want="target=$APPW\\Kalmori.exe workdir=C:\\users\\$user\\Documents"
    [ "$info" = "$want" ] || fail "link $1 reads '$info', not '$want'"
}

# The publisher the build was given (KAL_PUBLISHER), which its entry names; empty for none.
PUBLISHER=$(sed -n 's/^KAL_PUBLISHER:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null)

# sum_kb DUMP: what an installation puts into the application folder (Uninst.exe and the packaged files)
# as the machinedump DUMP lists it, in KB rounded up.
sum_kb() {
    { echo Uninst.exe; sed "s|^$samples/||" "$host/medium-src.list" | tr / '\\'; } >"$WORK/installed.names"
    awk 'FILENAME == ARGV[1] {want[$0] = 1; next} $1 == "F" && ($2 in want) {n += $4}
        END {printf "%d\n", (n + 1023) / 1024}' "$WORK/installed.names" "$1"
}

# check_entry_values KEYLINE: this version's entry holds exactly the values an installation writes. Its
# EstimatedSize is the size of the installed files as they are now, or as a whole installation made them
# (an entry written before the scenario changed or removed files).
check_entry_values() {
    local k=$1 appw=${APPW//\\/\\\\}
    {
        printf '"DisplayIcon"="%s\\\\Kalmori.exe,0"\n' "$appw"
        printf '"DisplayName"="Kalmorist 6.1"\n'
        printf '"DisplayVersion"="6.1"\n'
        printf '"InstallLocation"="%s"\n' "$appw"
        printf '"NoModify"=dword:00000001\n"NoRepair"=dword:00000001\n'
        [ -z "$PUBLISHER" ] || printf '"Publisher"="%s"\n' "$PUBLISHER"
        printf '"UninstallString"="%s\\\\Uninst.exe"\n' "$appw"
    } >"$WORK/entry.want"
    grep -F "$k \"" "$WORK/registry.have" | sed 's/^[^]]*\] //' | grep -v '^"EstimatedSize"=' |
        LC_ALL=C sort >"$WORK/entry.have"
    if ! diff -u "$WORK/entry.want" "$WORK/entry.have" >"$WORK/diff"; then
        fail "the values of the entry Kalmor61 differ:"
        cat "$WORK/diff"
    fi
    local size now whole
    size=$(grep -F "$k \"EstimatedSize\"=dword:" "$WORK/registry.have" | sed 's/.*=dword://')
    dump --no-hash "$APPW" >"$WORK/app.sized" # reads no file: the access times stay
    now=$(sum_kb "$WORK/app.sized")
    {
        "$host/bin/machinedump" "$samples" | awk '$1 == "F"'
        "$host/bin/machinedump" "$build/medium" | awk '$1 == "F" && $2 == "Uninst.exe"'
    } >"$WORK/whole.sized"
    whole=$(sum_kb "$WORK/whole.sized")
    if [ -z "$size" ]; then
        fail "the entry Kalmor61 has no EstimatedSize (a DWORD)"
    elif [ $((16#$size)) != "$now" ] && [ $((16#$size)) != "$whole" ]; then
        fail "EstimatedSize of Kalmor61 is $((16#$size)) KB; the installed files take $now KB, a whole installation $whole KB"
    fi
}

# expect LINE: one expectation of the table (the words after "expect").
expect() {
    local what rest
    read -r what rest <<<"$1"
    case $what in
    report)
        local args=() a
        for a in $rest; do
            a=${a//\{MEDIUM\}/$MEDIUMW}
            a=${a//\{APPW\}/$APPW}
            a=${a//\{OLDW\}/$OLDW}
            args+=("$a")
        done
        restext_report "${args[@]}" >"$WORK/report.want"
        if ! diff -u "$WORK/report.want" "$WORK/report.have" >"$WORK/diff"; then
            fail "the report differs:"
            cat "$WORK/diff"
        fi
        ;;
    noreport)
        [ ! -s "$WORK/report.have" ] || fail "a report was shown"
        ;;
    entry)
        local key state k
        read -r key state <<<"$rest"
        k=$(echo "[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\$key]" | tr 'A-Z' 'a-z')
        if grep -qxF "$k" "$WORK/registry.have"; then
            [ "$state" = present ] || fail "the uninstall entry $key is there"
            if [ "$key" = Kalmor61 ]; then
                check_entry_values "$k"
                # The 32-bit installer's entry is in the 32-bit view only.
                if [ -n "$WOW" ] && "$WINE64" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key" >/dev/null 2>&1; then
                    fail "the uninstall entry $key is in the 64-bit view, not under WOW6432Node"
                fi
            fi
        else
            [ "$state" = absent ] || fail "no uninstall entry $key"
        fi
        ;;
    native-entry)
        local key state
        read -r key state <<<"$rest"
        if "${REG[@]}" query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$key" >/dev/null 2>&1; then
            [ "$state" = present ] || fail "the uninstall entry $key is there in the machine's own view"
        else
            [ "$state" = absent ] || fail "no uninstall entry $key in the machine's own view"
        fi
        ;;
    app)
        # shellcheck disable=SC2086
        check_app $rest
        ;;
    links)
        check_link "$LINK_START" "$rest"
        check_link "$LINK_DESKTOP" "$rest"
        ;;
    link)
        local which state
        read -r which state <<<"$rest"
        if [ "$which" = start ]; then check_link "$LINK_START" "$state"; else check_link "$LINK_DESKTOP" "$state"; fi
        ;;
    file)
        local state=${rest##* } path=${rest% *}
        if [ "$state" = present ]; then
            [ -e "$DRIVE_C/$path" ] || fail "$path is not there"
        else
            [ ! -e "$DRIVE_C/$path" ] && [ ! -L "$DRIVE_C/$path" ] || fail "$path is there"
        fi
        ;;
    same | differs)
        local a=${rest%% | *} b=${rest#* | }
        if cmp -s "$(host_of "$a")" "$(host_of "$b")"; then
            [ "$what" = same ] || fail "$a is the same as $b"
        else
            [ "$what" = differs ] || fail "$a differs from $b (or is missing)"
        fi
        ;;
    temp-copy)
        # Until a reboot, as the run left it (under Wine the next command would start a new session).
        local copies
        if [ -n "$REBOOTED" ]; then copies=$(temp_copies); else copies=$(cat "$WORK/temp.have"); fi
        if [ -n "$copies" ]; then
            [ "$rest" = present ] || fail "the uninstaller's copy is in the temporary folder: $(echo "$copies" | tr '\n' ' ')"
        else
            [ "$rest" = absent ] || fail "no copy of the uninstaller in the temporary folder"
        fi
        ;;
    unchanged)
        state_of >"$WORK/state.after"
        if ! diff -u "$WORK/state.before" "$WORK/state.after" >"$WORK/diff"; then
            fail "the machine changed:"
            head -40 "$WORK/diff"
        fi
        ;;
    *) fail "unknown expectation $what" ;;
    esac
}

# restext_report HEADER [MESSAGE ARGUMENT]...: the report as the installer composes it, in the normalised
# form of report_of.
restext_report() {
    "$host/bin/restext" "$@" | sed -e 's/[[:space:]]*$//' | awk 'NF {seen=1} seen' | tac | awk 'NF {seen=1} seen' | tac
}

# The machine as far as the installer may touch it: the uninstall area, the program files, the user's
# folders (no access times).
state_of() {
    local folders=('C:\Program Files')
    [ "$PF" = "Program Files" ] || folders+=("C:\\$PF")
    reg_dump
    [ "$column" != wow64 ] || reg_dump native
    dump --no-hash "${folders[@]}" "C:\\users\\$user" | awk '$1 == "F" {$6 = ""} {print}'
}

# The outcome all columns must agree on: the report, the uninstall area, the folders of this and the older
# versions and the shortcuts (files without access and creation times and without the archive bit, which the
# platforms set differently; the uninstaller, a program of its platform, by name only; links by their target
# and working folder). The 32-bit installer's places in wow64 (Program Files (x86), and WOW6432Node, which
# reg_dump leaves out) are named as the other columns name theirs. In wow64 the outcome ends with what is in
# the 64-bit view's places that the installer does not see, when there is anything.
outcome_of() {
    if [ "$PF" = "Program Files" ]; then
        outcome_here
    else
        outcome_here | sed "s|$PF|Program Files|g"
    fi
}
# dump_folder FOLDER: a folder of the outcome (FOLDER without C:\), if it is there.
dump_folder() {
    dump "C:\\$1" | awk '$1 == "F" || $1 == "D" || $1 == "L" {gsub("A", "", $3); if ($3 == "") $3 = "-"}
        $1 == "F" {$6 = ""; $7 = ""; if ($2 == "Uninst.exe") {$4 = ""; $5 = ""; $8 = ""}} $1 != "none" {print}'
}
outcome_here() {
    local folder
    echo "[report]"
    sed "s|$(printf '%s' "$MEDIUMW" | sed 's/[\\&|]/\\&/g')|{MEDIUM}|g" "$WORK/report.have"
    echo "[registry]"
    # The size of the installed files takes in the uninstaller, a program of its own platform: each column
    # checks its own (check_entry_values).
    sed 's/^\(\[[^]]*\\kalmor61\] "EstimatedSize"=dword:\).*/\1(the installed files)/' "$WORK/registry.have"
    for folder in "$PF\\Kalmor61" "$PF\\Kalmori6" "$PF\\Kalmori5" 'Shared'; do
        echo "[$folder]"
        dump_folder "$folder"
    done
    echo "[links]"
    for folder in "$DRIVE_C/users/$user/Desktop" "$DRIVE_C/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"; do
        for l in "$folder"/*.lnk; do
            [ -e "$l" ] || continue
            if [ -d "$l" ]; then
                echo "${l#"$DRIVE_C"/} (a folder)"
            else
                echo "${l#"$DRIVE_C"/} $(link_info "$l")"
            fi
        done
    done
    if [ "$column" = wow64 ]; then
        reg_dump native | grep -vx '\[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\]' >"$WORK/native.have"
        if [ -s "$WORK/native.have" ]; then
            echo "[the 64-bit view's uninstall area, which the 32-bit installer does not see]"
            cat "$WORK/native.have"
        fi
        for folder in 'Program Files\Kalmor61' 'Program Files\Kalmori6' 'Program Files\Kalmori5'; do
            dump_folder "$folder" >"$WORK/native.have"
            if [ -s "$WORK/native.have" ]; then
                echo "[64-bit $folder, which the 32-bit installer does not see]"
                cat "$WORK/native.have"
            fi
        done
    fi
}

run_scenario() {
    local name=$1
    local lines
    lines=$(block "$name") || return 1
    FAILED=0
    machine_new
    local actions="" uninstall=""
    while read -r word rest; do
        case $word in
        seed) seed "$rest" ;;
        actions) actions=$rest ;;
        uninstall) uninstall=$rest ;;
        esac
    done <<<"$lines"
    state_of >"$WORK/state.before"
    local rc
    if [ -n "$uninstall" ]; then
        echo "uninstall: $uninstall"
        # shellcheck disable=SC2086
        run_uninstaller "$WORK/setup.out" $uninstall
        rc=$?
    else
        echo "actions: $actions"
        # shellcheck disable=SC2086
        run_setup "$WORK/setup.out" $actions
        rc=$?
    fi
    sed 's/^/  | /' "$WORK/setup.out"
    if [ "$platform" = wine ]; then
        rc=$(awk '/^--- exit / {print $3}' "$WORK/setup.out")
        wine_idle || fail "the program did not end"
    fi
    [ "${rc:-x}" = 0 ] || fail "the program ended with exit code ${rc:-none}"
    temp_copies >"$WORK/temp.have"
    REBOOTED=""
    report_of "$WORK/setup.out" >"$WORK/report.have"
    reg_dump >"$WORK/registry.have"
    while read -r word rest; do
        case $word in
        expect) expect "$rest" ;;
        reboot) reboot ;;
        esac
    done <<<"$lines"
    outcome_of >"$results/$name.outcome"
    # What the user read: every page's texts and the report (compare-texts.sh).
    sed "s|$(printf '%s' "$MEDIUMW" | sed 's/[\\&|]/\\&/g')|{MEDIUM}|g" "$WORK/setup.out" >"$results/$name.texts"
    machine_end
    return $FAILED
}

status=0
for name in "$@"; do
    log=$results/$name.log
    if run_scenario "$name" >"$log" 2>&1; then
        echo "scenario $name: passed"
    else
        echo "scenario $name: FAILED (log: $log)"
        cat "$log"
        status=1
    fi
done
exit $status
