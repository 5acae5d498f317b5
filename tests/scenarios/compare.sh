#!/usr/bin/env bash
# compare.sh LINUX_BUILD WINDOWS_BUILD - the outcome of every scenario (the report, the uninstall area, the
# program files and the shortcuts) must be the same from the Linux build and from the Windows build under
# Wine. Scenarios with platform-specific expectations in the table are compared only where they agree.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
linux=$1/scenarios
windows=$2/scenarios
status=0
compared=0
for name in $(awk '$1 == "scenario" {print $2}' "$here/scenarios.txt"); do
    a=$linux/$name.outcome
    b=$windows/$name.outcome
    if [ ! -f "$a" ] || [ ! -f "$b" ]; then
        echo "scenario $name: no outcome from both builds (run the scenarios of both first)"
        status=1
        continue
    fi
    if awk -v name="$name" '$1 == "scenario" && $2 == name {on=1; next} on && $1 == "end" {exit} on && ($1 == "linux" || $1 == "wine") {found=1} END {exit !found}' "$here/scenarios.txt"; then
        echo "scenario $name: platform-specific by the table, not compared"
        continue
    fi
    if diff -u "$a" "$b" >/dev/null; then
        compared=$((compared + 1))
    else
        echo "scenario $name: the builds disagree (- Linux, + Windows under Wine):"
        diff -u "$a" "$b"
        status=1
    fi
done
echo "$compared scenarios agree between the Linux build and the Windows build under Wine"
exit $status
