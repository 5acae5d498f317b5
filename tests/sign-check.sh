#!/usr/bin/env bash
# sign-check.sh BUILD [--wine] - the release's signing, tried on a copy of BUILD/medium with a throwaway
# certificate that openssl makes for the run (self-signed, for code signing):
#   - tools/sign.sh signs Setup.exe and Uninst.exe, SHA-256;
#   - osslsigncode verify accepts each, trusting only that certificate, and refuses the unsigned programs;
#   - a copy of each with one byte changed (in the code, in a text of the resources, the last byte before
#     the signature) is refused.
# With --wine (the Windows build's own bitness runs here), under Wine in a fresh copy of the template prefix
# (KAL_WINE_TEMPLATE): the signed Setup.exe installs (driven by BUILD/bin/wizdrive.exe, "next cancel"),
# `reg query` shows the uninstall entry with the values an installation writes, the installed Uninst.exe is
# the signed one byte for byte and its signature checks; that Uninst.exe uninstalls ("next check next
# cancel"), working from its copy in the temporary folder, which is byte for byte the signed program and
# keeps a valid signature; then `reg query` finds no entry.
# Exit code 0 when everything held.
set -uo pipefail
build=$(cd "${1:?build folder}" && pwd)
wine=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kalsign.XXXXXX")
status=0
fail() {
    echo "FAIL $*"
    status=1
}
ok() { echo "ok   $*"; }

cleanup() {
    if [ -n "${WINESERVER:-}" ]; then
        "$WINESERVER" -k >/dev/null 2>&1
        "$WINESERVER" -w >/dev/null 2>&1
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# verify EXE: osslsigncode's verdict with the throwaway certificate as the only trusted root; its output in
# work/verify.out.
verify() {
    osslsigncode verify -in "$1" -CAfile "$work/cert.pem" >"$work/verify.out" 2>&1 &&
        grep -q '^Signature verification: ok' "$work/verify.out"
}

# spoil EXE OFFSET: a copy of EXE with the byte at OFFSET changed, in work/spoilt.exe.
spoil() {
    local byte
    cp "$1" "$work/spoilt.exe"
    byte=$(od -An -tu1 -j"$2" -N1 "$1" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$work/spoilt.exe" bs=1 seek="$2" conv=notrunc status=none
}

# The certificate: RSA 2048, valid for two days, for code signing.
if ! openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj "/CN=Kalmorist test signing/O=Kalmorist tests" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" >"$work/openssl.out" 2>&1; then
    cat "$work/openssl.out"
    echo "FAIL openssl made no certificate"
    exit 1
fi
cp -a "$build/medium" "$work/medium"
for exe in Setup.exe Uninst.exe; do
    verify "$work/medium/$exe" && fail "the unsigned $exe was accepted" || ok "the unsigned $exe is refused"
done
if ! "$root/tools/sign.sh" "$work/medium" "$work/cert.pem" "$work/key.pem" >"$work/sign.out" 2>&1; then
    cat "$work/sign.out"
    echo "FAIL tools/sign.sh failed"
    exit 1
fi

for exe in Setup.exe Uninst.exe; do
    signed=$work/medium/$exe
    if verify "$signed" && grep -q '^Message digest algorithm *: SHA256' "$work/verify.out"; then
        ok "$exe signed with SHA-256, the signature accepted"
    else
        fail "$exe: the signature was not accepted as SHA-256:"
        cat "$work/verify.out"
    fi
    # The certificate table (data directory 4) says where the signature starts; the bytes before it are
    # hashed. Changed: a byte of the code, one of a text of the resources, the last before the signature.
    pe=$(od -An -tu4 -j60 -N4 "$signed" | tr -d ' ')
    magic=$(od -An -tx2 -j$((pe + 24)) -N2 "$signed" | tr -d ' ')
    dirs=$((pe + 24 + 96))
    [ "$magic" = 020b ] && dirs=$((pe + 24 + 112))
    sigat=$(od -An -tu4 -j$((dirs + 32)) -N4 "$signed" | tr -d ' ')
    text=$(LC_ALL=C grep -abo 'K.a.l.m.o.r.i.s.t' "$signed" | head -n 1 | cut -d: -f1)
    for at in 1024 "${text:-1030}" $((sigat - 1)); do
        spoil "$signed" "$at"
        if verify "$work/spoilt.exe"; then
            fail "$exe with the byte at $at changed was accepted"
        else
            ok "$exe with the byte at $at changed is refused"
        fi
    done
done

if [ "$wine" != --wine ]; then
    [ $status = 0 ] && echo "all signing checks passed (the installation under Wine not tried here)"
    exit $status
fi

# Under Wine: install from the signed medium, look at the entry, uninstall with the installed uninstaller.
cp -a "${KAL_WINE_TEMPLATE:?KAL_WINE_TEMPLATE names the template made by wine-prefix.sh}/prefix" "$work/prefix"
mkdir -p "$work/home"
export HOME=$work/home WINEPREFIX=$work/prefix
. "$here/wine-env.sh"
unset DISPLAY
cp "$build/bin/wizdrive.exe" "$work/"
pf="Program Files"
area='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
if [ "$(od -An -tx2 -j$(($(od -An -tu4 -j60 -N4 "$work/medium/Setup.exe" | tr -d ' ') + 4)) -N2 "$work/medium/Setup.exe" | tr -d ' ')" = 014c ]; then
    pf="Program Files (x86)" # the 32-bit Setup.exe in the 64-bit prefix, as on 64-bit Windows
    area='HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
fi
app=$WINEPREFIX/drive_c/$pf/Kalmor61
appw="C:\\$pf\\Kalmor61"
drive() { # PROGRAM [--follow] ACTION...: wizdrive's transcript in work/drive.out
    (cd "$work" && timeout 180 "$WINE" wizdrive.exe "$@" 2>&1 | tr -d '\r' >"$work/drive.out")
    # A wizard left open would keep the server: end it after a while rather than wait for ever.
    timeout 60 "$WINESERVER" -w >/dev/null 2>&1 || "$WINESERVER" -k >/dev/null 2>&1
}
report() { awk '/^--- end of report$/ {exit} on {print} /^--- report$/ {on=1}' "$work/drive.out" | head -n 1; }
texts=$root/build/linux/bin/restext
[ -x "$texts" ] || cmake --build "$root/build/linux" --target restext >/dev/null 2>&1

drive "Z:$(echo "$work/medium/Setup.exe" | tr / '\\')" next cancel
if [ "$(report)" = "$("$texts" 1050 | head -n 1)" ]; then
    ok "the signed Setup.exe installed"
else
    fail "the signed Setup.exe did not report success:"
    cat "$work/drive.out"
fi
"$WINE64" reg query "$area\\Kalmor61" >"$work/query.out" 2>&1
rc=$?
tr -d '\r' <"$work/query.out" | iconv -f cp866 -t utf-8 | awk 'NF >= 3 {print $1, $2, substr($0, index($0, $3))}' |
    sed 's/^ *//' | LC_ALL=C sort >"$work/values.have"
{
    echo "DisplayIcon REG_SZ $appw\\Kalmori.exe,0"
    echo "DisplayName REG_SZ Kalmorist 6.1"
    echo "DisplayVersion REG_SZ 6.1"
    echo "InstallLocation REG_SZ $appw"
    echo "NoModify REG_DWORD 0x1"
    echo "NoRepair REG_DWORD 0x1"
    echo "UninstallString REG_SZ $appw\\Uninst.exe"
} >"$work/values.want"
grep -v '^EstimatedSize ' "$work/values.have" >"$work/values.cmp"
if [ $rc = 0 ] && diff -u "$work/values.want" "$work/values.cmp" >"$work/values.diff" &&
    grep -q '^EstimatedSize REG_DWORD 0x[0-9a-f]*[1-9a-f][0-9a-f]*$' "$work/values.have"; then
    ok "reg query shows the entry: $(tr '\n' ';' <"$work/values.have")"
else
    fail "reg query does not show the entry's values (exit code $rc):"
    cat "$work/values.diff" "$work/query.out"
fi
if cmp -s "$app/Uninst.exe" "$work/medium/Uninst.exe" && verify "$app/Uninst.exe"; then
    ok "the installed Uninst.exe is the signed one, its signature valid"
else
    fail "the installed Uninst.exe is not the signed one, or its signature does not check"
fi

drive --follow "$appw\\Uninst.exe" next check next cancel
if [ "$(report)" = "$("$texts" 2050 | head -n 1)" ]; then
    ok "the installed Uninst.exe uninstalled"
else
    fail "the installed Uninst.exe did not report success:"
    cat "$work/drive.out"
fi
copy=$(find "$WINEPREFIX/drive_c/users" -name 'Kalmor61-Uninst-*.exe' | head -n 1)
if [ -z "$copy" ]; then
    fail "no copy of the uninstaller in the temporary folder"
elif cmp -s "$copy" "$work/medium/Uninst.exe" && verify "$copy"; then
    ok "the uninstaller's copy ${copy##*/} is byte for byte the signed program, its signature valid"
else
    fail "the uninstaller's copy ${copy##*/} is not the signed program, or its signature does not check"
fi
if "$WINE64" reg query "$area\\Kalmor61" >/dev/null 2>&1; then
    fail "reg query still finds the entry after the uninstallation"
else
    ok "reg query finds no entry after the uninstallation"
fi
[ -e "$app/Kalmori.exe" ] && fail "the application's files are still there"
[ $status = 0 ] && echo "all signing checks passed, and the signed programs install and uninstall under Wine"
exit $status
