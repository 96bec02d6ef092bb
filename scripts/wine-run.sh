#!/usr/bin/env bash
# Runs one Windows program under wine in a project-own prefix, as ctest's
# emulator for the cross-built test programs:
#   wine-run.sh PREFIX PROGRAM.exe [ARG...]
# The prefix is made, and its wineserver started and warmed up, by
# scripts/wine-env.sh (scripts/test-windows.sh does that); this script only
# runs the program in it, under a time limit, and gives back its exit status.
set -euo pipefail

if [ "$#" -lt 2 ]; then
  echo "usage: $0 PREFIX PROGRAM [ARG...]" >&2
  exit 2
fi
prefix=$1
shift
if [ ! -f "$prefix/system.reg" ]; then
  echo "$0: no wine prefix at $prefix; make it with scripts/wine-env.sh (scripts/test-windows.sh does)" >&2
  exit 2
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# Wine takes the system code page from the locale: 932, as on a Japanese Windows.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
exec timeout -k 10 "${VLT_WINE_TIMEOUT:-600}" wine "$@"
