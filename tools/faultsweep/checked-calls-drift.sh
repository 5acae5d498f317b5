#!/bin/sh
# checked-calls-drift.sh - the one list of checked calls (plat/include/plat/checkedcalls.h) against what
# uses it: every call name a unit of plat/ passes to the fault switch is listed, every listed name is passed
# by some unit, and docs/checked-calls.md is the page faultsweep --checked-calls writes from the list.
#   checked-calls-drift.sh FAULTSWEEP SOURCE_DIR
set -u
sweep=$1
root=$2
list=$root/plat/include/plat/checkedcalls.h
tmp=$(mktemp -d) || exit 2
trap 'rm -rf "$tmp"' EXIT
failed=0

# The names the list has: the first argument of each X(...) line.
sed -n 's/^ *X("\([A-Za-z_]*\)".*/\1/p' "$list" | sort >"$tmp/listed"
# The names the units pass: a literal given to the switch (InjectedFault), to a unit's own wrapper of it
# (Fault, ResolveArg, MoveFileImpl, EnterKey's fourth argument), or to the trace of a call (TracedCall).
find "$root/plat" -name '*.cpp' ! -path '*/tests/*' -exec cat {} + >"$tmp/sources"
{
    grep -oE '\b(InjectedFault|Fault|ResolveArg|MoveFileImpl)\(\s*"[A-Za-z_]+"' "$tmp/sources"
    grep -oE '\bTracedCall +[A-Za-z_]+\("[A-Za-z_]+"\)' "$tmp/sources"
    grep -oE '\bEnterKey\([^;"]*"[A-Za-z_]+"' "$tmp/sources"
} | sed 's/.*"\([A-Za-z_]*\)".*/\1/' | sort -u >"$tmp/used"

if [ ! -s "$tmp/listed" ] || [ ! -s "$tmp/used" ]; then
    echo "checked-calls-drift: no names found (listed $(wc -l <"$tmp/listed"), used $(wc -l <"$tmp/used"))"
    exit 1
fi
for name in $(comm -13 "$tmp/listed" "$tmp/used"); do
    echo "checked-calls-drift: plat/ checks the fault switch as $name, which $list does not list"
    failed=1
done
for name in $(comm -23 "$tmp/listed" "$tmp/used"); do
    echo "checked-calls-drift: $list lists $name, which no unit of plat/ checks the fault switch as"
    failed=1
done
if ! "$sweep" --checked-calls >"$tmp/page"; then
    echo "checked-calls-drift: $sweep --checked-calls failed"
    failed=1
elif ! diff -u "$root/docs/checked-calls.md" "$tmp/page"; then
    echo "checked-calls-drift: docs/checked-calls.md is not the page the list makes;" \
        "write it again with: faultsweep --checked-calls > docs/checked-calls.md"
    failed=1
fi
[ $failed = 0 ] && echo "checked-calls-drift: $(wc -l <"$tmp/listed") calls listed, used and documented alike"
exit $failed
