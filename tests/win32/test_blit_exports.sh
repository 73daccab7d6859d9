#!/bin/bash
# The blitter exported from the player, used by another program that only
# loads the executable and looks the names up (blit_exports.exe): with the
# image as Wine's loader leaves an executable (at another base, unrelocated,
# unbound) and as Windows' does (relocated, unbound; here a copy marked as a
# library and loaded without its references resolved). Also: the export
# table lists the fourteen decorated names, and the code that repairs the
# image before anything else runs holds no absolute address and calls
# nothing outside itself.
set -u
BIN=${QUARVEL_WIN32_BIN:?}
EXE="$BIN/quarvplay.exe"
NAMES="_QuarvBlitOpen@4 _QuarvBlitSetPalette@12 _QuarvBlitSetFlags@8 _QuarvBlitString@8 _QuarvBlit@44
_QuarvBlitTrans@48 _QuarvBlitMask@52 _QuarvBlitMerge@52 _QuarvBlitClear@32 _QuarvBlitClose@4
_QuarvBufferToBuffer@32 _QuarvBufferToBufferTrans@36 _QuarvBufferToBufferMask@40 _QuarvBufferToBufferMerge@40"
fail=0

# This objdump reads both the 32-bit and the 64-bit formats.
table=$(x86_64-w64-mingw32-objdump -p "$EXE") || { echo "FAILED: cannot read the export table of $EXE"; exit 1; }
for name in $NAMES; do
  grep -qE "^[[:space:]]*\[ *[0-9]+\] $name\$" <<<"$table" || { echo "FAILED: $name is not exported"; fail=1; }
done
[ "$fail" = 0 ] && echo "ok: all 14 decorated names in the export table"

# Relocations of the repair's code: exactly one absolute address (the label
# that tells where the code assumes the image is), and references only to
# its own sections and to symbols the linker defines.
obj=$(find "$BIN/.." -path '*quarvplay.dir*' -name 'image_repair_win32.cpp.obj' | head -1)
if [ -z "$obj" ]; then
  echo "FAILED: the object of image_repair_win32.cpp was not found"; fail=1
else
  relocs=$(x86_64-w64-mingw32-objdump -r "$obj" | awk '/^RELOCATION RECORDS FOR \[/ {code = ($4 ~ /^\[\.text/)} code && NF == 3 && $1 ~ /^[0-9a-f]+$/')
  absolute=$(grep -cE ' (dir32|IMAGE_REL_AMD64_ADDR64|IMAGE_REL_AMD64_ADDR32) ' <<<"$relocs")
  foreign=$(awk '$3 !~ /^\./ && $3 !~ /^_*(ImageBase|RUNTIME_PSEUDO_RELOC_LIST(_END)?__)$/' <<<"$relocs")
  if [ "$absolute" != 1 ] || [ -n "$foreign" ]; then
    echo "FAILED: the image repair's code has $absolute absolute references (1 expected)${foreign:+ and refers to:}"
    echo "$foreign"; fail=1
  else
    echo "ok: the image repair refers to nothing it repairs"
  fi
fi

source "$QUARVEL_ROOT/scripts/wine_env.sh"
trap wine_env_stop EXIT
wine_env_start
cp "$EXE" "$WINE_ENV_DIR/asdll.exe"
# The copy marked as a library (IMAGE_FILE_DLL in the file header's flags).
lfanew=$(od -An -tu4 -j60 -N4 "$EXE" | tr -d ' ')
flags=$(( $(od -An -tu2 -j$((lfanew + 22)) -N2 "$EXE" | tr -d ' ') | 0x2000 ))
printf "\\x$(printf %02x $((flags & 255)))\\x$(printf %02x $((flags >> 8)))" |
  dd of="$WINE_ENV_DIR/asdll.exe" bs=1 seek=$((lfanew + 22)) conv=notrunc 2>/dev/null

for mode in as-loaded relocated; do
  if [ "$mode" = relocated ]; then target="$WINE_ENV_DIR/asdll.exe"; else target="$EXE"; fi
  out=$(wine "$BIN/blit_exports.exe" "$(winepath -w "$target")" "$mode" 2>"$WINE_ENV_DIR/wine.err" | tr -d '\r'
        exit "${PIPESTATUS[0]}")
  rc=$?
  echo "--- $mode"
  echo "$out"
  if [ "$rc" -ne 0 ] || ! grep -q '^blit_exports: all checks passed$' <<<"$out"; then
    echo "FAILED: blit_exports.exe $mode exited with $rc"; tail -5 "$WINE_ENV_DIR/wine.err"; fail=1
  fi
done
[ "$fail" = 0 ] && echo pass
exit "$fail"
