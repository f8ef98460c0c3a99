#!/bin/sh
# Prepares the build's Wine prefix once: created, test root CA trusted, font
# replacements, the X11 settings that window tests need, and no crash
# debugger (a crashing program must end its test at once, not wait in
# winedbg until the time-out).
#   prepare-wineprefix.sh WINE_RUN PREFIX ROOT_CA_DER TRUST_ROOT_EXE REG_FILE STAMP [wow64]
# wow64: the prefix must also run 32-bit programs (a 64-bit prefix sets up
# its 32-bit side only where 32-bit code can be executed at that moment).
set -eu
wine_run=$1 prefix=$2 root=$3 trust=$4 reg=$5 stamp=$6 wow64=${7:-}
log="$prefix.log"
unset DISPLAY || true

windows_path() { printf 'Z:%s' "$1" | sed 's|/|\\|g'; }

rm -rf "$prefix" "$stamp"
mkdir -p "$prefix"
: > "$log"
# One server for the whole preparation; its output goes to the log, not to
# the caller's pipe.
WINEPREFIX=$prefix wineserver -p5 >>"$log" 2>&1 </dev/null
"$wine_run" wineboot -i >>"$log" 2>&1 </dev/null
if [ -n "$wow64" ] && [ ! -e "$prefix/drive_c/windows/syswow64/kernel32.dll" ]; then
  echo "prepare-wineprefix: the prefix has no 32-bit side; make it while 32-bit code can run" \
       "(scripts/test registers qemu for that)" >&2
  exit 1
fi
"$wine_run" regedit "$(windows_path "$reg")" >>"$log" 2>&1 </dev/null
if ! "$wine_run" "$trust" "$(windows_path "$root")" >>"$log" 2>&1 </dev/null; then
  echo "prepare-wineprefix: could not trust the test root CA; see $log" >&2
  exit 1
fi
WINEPREFIX=$prefix wineserver -w
touch "$stamp"
