#!/usr/bin/env bash
# sign.sh MEDIUM CERT KEY [TIMESTAMP-URL] - signs the medium's Windows programs (Setup.exe and Uninst.exe)
# in place with an Authenticode signature over SHA-256, made by osslsigncode (Debian package osslsigncode).
#   CERT           the publisher's code-signing certificate, PEM or DER, followed in the same file by the
#                  intermediate certificates of its chain; or a PKCS#12 file (.p12, .pfx) holding certificate
#                  and key, KEY then being "-"
#   KEY            its private key, PEM or DER; the passphrase, if any, in the environment as KAL_SIGN_PASS
#   TIMESTAMP-URL  an RFC 3161 time-stamp server: the signature then stays valid after the certificate expires
# Each program is signed into a copy beside it, whose signature digest osslsigncode checks against the file,
# and only then put in the program's place; nothing is replaced when either fails. Exit code 0 when both are
# signed. Signing again replaces the earlier signature.
set -euo pipefail

usage() {
    echo "usage: tools/sign.sh MEDIUM CERT KEY [TIMESTAMP-URL]" >&2
    exit 2
}
[ $# -ge 3 ] && [ $# -le 4 ] || usage
medium=$1 cert=$2 key=$3 tsa=${4:-}
command -v osslsigncode >/dev/null || { echo "sign.sh: osslsigncode is missing (tools/deps.sh test installs it)" >&2; exit 1; }
[ -f "$cert" ] || { echo "sign.sh: no certificate $cert" >&2; exit 1; }
[ "$key" = - ] || [ -f "$key" ] || { echo "sign.sh: no key $key" >&2; exit 1; }

credentials=()
case $cert in
*.p12 | *.pfx | *.P12 | *.PFX) credentials=(-pkcs12 "$cert") ;;
*) credentials=(-certs "$cert" -key "$key") ;;
esac
[ -z "${KAL_SIGN_PASS:-}" ] || credentials+=(-pass "$KAL_SIGN_PASS")
timestamp=()
[ -z "$tsa" ] || timestamp=(-ts "$tsa")

signed=()
cleanup() { rm -f "${signed[@]/%/.signed}"; }
trap cleanup EXIT
for name in Setup.exe Uninst.exe; do
    exe=$medium/$name
    [ -f "$exe" ] || { echo "sign.sh: no $exe" >&2; exit 1; }
    signed+=("$exe")
    rm -f "$exe.signed"
    osslsigncode sign "${credentials[@]}" -h sha256 -n "Kalmorist 6.1" "${timestamp[@]}" \
        -in "$exe" -out "$exe.signed" >"$exe.signed.log" 2>&1 ||
        { cat "$exe.signed.log" >&2; rm -f "$exe.signed.log"; echo "sign.sh: $exe was not signed" >&2; exit 1; }
    rm -f "$exe.signed.log"
    # The signature's digest must be the file's; whether Windows trusts the chain is not for this host to say.
    out=$(osslsigncode verify -in "$exe.signed" 2>&1 || true)
    grep -q '^Calculated message digest : [0-9A-F]* *$' <<<"$out" ||
        { echo "$out" >&2; echo "sign.sh: the signature of $exe does not check" >&2; exit 1; }
done
for exe in "${signed[@]}"; do
    chmod --reference="$exe" "$exe.signed"
    mv "$exe.signed" "$exe"
    echo "signed $exe"
done
