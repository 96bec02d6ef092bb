#!/usr/bin/env bash
# A wine prefix of the project's own under a build folder, for running the
# Windows build and its tests.
#
# Sourced:   . scripts/wine-env.sh; vlt_wine_start build-win
#            exports WINEPREFIX and the rest, makes the prefix when it is
#            missing, starts a persistent wineserver, warms it up, and sets an
#            EXIT trap that stops that wineserver again (vlt_wine_stop).
#            vlt_wine_exec COMMAND [ARG...] then runs a command in it.
# Run:       scripts/wine-env.sh build-win COMMAND [ARG...]
#            does the same around one command and exits with its status.
#
# Every wine call runs under timeout(1). Only the wineserver of this prefix
# is stopped (wineserver -k with this WINEPREFIX), never anything by name.

vlt_wine_missing_tools() {
  local tool missing=()
  for tool in wine wineserver wineboot winepath timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ! locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
    missing+=("the ja_JP.UTF-8 locale")
  fi
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "wine-env: missing ${missing[*]} (scripts/install-deps.sh installs them)" >&2
    return 1
  fi
}

vlt_wine_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    timeout -k 5 60 wineserver -k >/dev/null 2>&1 || true
    # -k only asks; wait (bounded) until the server of this prefix is gone.
    timeout -k 5 60 wineserver -w >/dev/null 2>&1 || true
  fi
}

vlt_wine_start() {
  local build_dir=${1:?usage: vlt_wine_start BUILD_DIR}
  vlt_wine_missing_tools || return 1
  mkdir -p "$build_dir"
  export WINEPREFIX
  WINEPREFIX=$(cd "$build_dir" && pwd)/wine-prefix
  export WINEDEBUG=-all
  # Wine takes the system code page from the locale: 932, as on a Japanese Windows.
  export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
  trap vlt_wine_stop EXIT
  # Interrupted or terminated, the shell exits through its EXIT trap too.
  trap 'exit 130' INT
  trap 'exit 143' TERM

  # Helper processes that wine starts keep the standard streams they are
  # given, so every set-up call gets /dev/null: otherwise they would hold the
  # caller's pipe open. The log keeps what they said for a failed set-up.
  local log=$build_dir/wine-setup.log
  : >"$log"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-env: making the wine prefix $WINEPREFIX" >&2
    # No display and no Mono or Gecko: nothing to ask, nothing to download.
    if ! env -u DISPLAY -u WAYLAND_DISPLAY WINEDLLOVERRIDES='mscoree=;mshtml=' \
        timeout -k 10 300 wineboot -i </dev/null >>"$log" 2>&1; then
      echo "wine-env: wineboot failed (see $log)" >&2
      return 1
    fi
    timeout -k 10 120 wineserver -w </dev/null >>"$log" 2>&1 || true
  fi
  # The font replacements that draw Japanese in the windows, imported once
  # into each prefix (a marker file remembers it).
  local script_dir
  script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  if [ ! -f "$WINEPREFIX/vlt-fonts.done" ]; then
    if ! env -u DISPLAY -u WAYLAND_DISPLAY timeout -k 10 120 \
        wine regedit /S "$(WINEDEBUG=-all timeout -k 5 60 winepath -w "$script_dir/wine-fonts.reg")" \
        </dev/null >>"$log" 2>&1; then
      echo "wine-env: importing the font replacements failed (see $log)" >&2
      return 1
    fi
    timeout -k 10 120 wineserver -w </dev/null >>"$log" 2>&1 || true
    touch "$WINEPREFIX/vlt-fonts.done"
  fi
  if ! timeout -k 10 60 wineserver -p </dev/null >>"$log" 2>&1; then
    echo "wine-env: wineserver -p failed (see $log)" >&2
    return 1
  fi
  if ! timeout -k 10 120 wine cmd /c exit </dev/null >>"$log" 2>&1; then
    echo "wine-env: the warm-up run failed (see $log)" >&2
    return 1
  fi
}

# Runs one command while the prefix is up and gives back its exit status. The
# command runs in the background so that an interrupt or a termination of
# this shell reaches it at once (passed on as SIGTERM), and the EXIT trap then
# stops the wineserver; a foreground command would delay both until it ended.
vlt_wine_exec() {
  local child status=0
  "$@" &
  child=$!
  trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 130' INT
  trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 143' TERM
  wait "$child" || status=$?
  trap 'exit 130' INT
  trap 'exit 143' TERM
  return "$status"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  if [ "$#" -lt 2 ]; then
    echo "usage: $0 BUILD_DIR COMMAND [ARG...]" >&2
    exit 2
  fi
  build=$1
  shift
  vlt_wine_start "$build"
  status=0
  vlt_wine_exec "$@" || status=$?
  exit "$status"
fi
