#!/bin/sh
# quarn.dll exports exactly the names libquarn.so exports: the export table that objdump -p prints
# against the dynamic symbols nm -D prints. On 32-bit Windows SetTask and TimerProc carry the
# system calling convention's decorations (SetTask@8, TimerProc@16), as 32-bit callers look them up.
# Usage: compare_exports.sh <objdump> <quarn.dll> <nm> <libquarn.so> [32]
set -u
objdump_tool=$1
dll=$2
nm_tool=$3
so=$4
bits=${5:-64}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$objdump_tool" -p "$dll" >"$work/dump" || exit 1
# The name table: the lines after "[Ordinal/Name Pointer] Table" up to the next blank line.
awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}' \
  "$work/dump" | sort >"$work/dll"
"$nm_tool" -D --defined-only "$so" | awk '{print $NF}' >"$work/so.raw" || exit 1
if [ "$bits" = 32 ]; then
  sed -e 's/^SetTask$/SetTask@8/' -e 's/^TimerProc$/TimerProc@16/' "$work/so.raw" | sort >"$work/so"
else
  sort "$work/so.raw" >"$work/so"
fi

if [ ! -s "$work/dll" ]; then
  echo "no export table in $dll"
  exit 1
fi
if ! cmp -s "$work/dll" "$work/so"; then
  echo "exports differ (< only in $dll, > only in $so):"
  diff "$work/dll" "$work/so" | grep '^[<>]' | head -40
  exit 1
fi
echo "$(wc -l <"$work/dll") exports, the same in both"
