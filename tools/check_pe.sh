#!/bin/bash
# Checks a cross-built saver: the right PE flavour for its architecture, a GUI program, and
# imports from system DLLs only (everything else is linked in statically).
# Arguments: ARCH=PATH pairs, ARCH being i686 or x86_64.
set -euo pipefail
shopt -s nocasematch
status=0
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|COMCTL32|OPENGL32|msvcrt|SHELL32|ole32|api-ms-win-[a-z0-9-]+)\.dll$'
for arg in "$@"; do
  arch=${arg%%=*}
  scr=${arg#*=}
  if [ ! -f "$scr" ]; then echo "missing: $scr"; status=1; continue; fi
  info=$(file -b "$scr")
  case "$arch" in
    i686) expect="PE32 executable (GUI) Intel 80386"; dump=i686-w64-mingw32-objdump ;;
    *) expect="PE32+ executable (GUI) x86-64"; dump=x86_64-w64-mingw32-objdump ;;
  esac
  if [[ "$info" != "$expect"* ]]; then echo "$scr: expected '$expect', got '$info'"; status=1; fi
  while read -r dll; do
    if ! [[ "$dll" =~ $allowed ]]; then echo "$scr imports a non-system DLL: $dll"; status=1; fi
  done < <($dump -p "$scr" | sed -n 's/^\s*DLL Name: //p')
  echo "$scr: $info"
done
exit $status
