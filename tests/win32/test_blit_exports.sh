#!/bin/bash
# The blitter exported from the player: the export table of quarvplay.exe
# lists the fourteen decorated stdcall names, and a separate program loads
# the executable as a module, finds each by GetProcAddress and calls the
# main ones under Wine (blit_exports.exe checks the pixels).
set -u
BIN=${QUARVEL_WIN32_BIN:?}
EXE="$BIN/quarvplay.exe"
NAMES="_QuarvBlitOpen@4 _QuarvBlitSetPalette@12 _QuarvBlitSetFlags@8 _QuarvBlitString@8 _QuarvBlit@44
_QuarvBlitTrans@48 _QuarvBlitMask@52 _QuarvBlitMerge@52 _QuarvBlitClear@32 _QuarvBlitClose@4
_QuarvBufferToBuffer@32 _QuarvBufferToBufferTrans@36 _QuarvBufferToBufferMask@40 _QuarvBufferToBufferMerge@40"

# This objdump reads both the 32-bit and the 64-bit executable format.
table=$(x86_64-w64-mingw32-objdump -p "$EXE") || { echo "FAILED: cannot read the export table of $EXE"; exit 1; }
missing=0
for name in $NAMES; do
  grep -qE "^[[:space:]]*\[ *[0-9]+\] $name\$" <<<"$table" || { echo "FAILED: $name is not exported"; missing=1; }
done
[ "$missing" = 0 ] || exit 1
echo "ok: all 14 decorated names in the export table"

source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
path=$(winepath -w "$EXE" 2>/dev/null) || path="Z:$(tr / '\\' <<<"$EXE")"
out=$(wine "$BIN/blit_exports.exe" "$path" 2>"$WINE_ENV_DIR/wine.err" | tr -d '\r'; exit "${PIPESTATUS[0]}")
rc=$?
echo "$out"
[ "$rc" -eq 0 ] || { echo "FAILED: blit_exports.exe exited with $rc"; tail -5 "$WINE_ENV_DIR/wine.err"; exit 1; }
found=$(grep -c '^ok: export ' <<<"$out")
[ "$found" -eq 14 ] || { echo "FAILED: only $found exports found"; exit 1; }
grep -q '^blit_exports: all checks passed$' <<<"$out" || exit 1
echo "pass"
