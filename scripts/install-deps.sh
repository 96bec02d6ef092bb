#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12 (as root, or
# through sudo when run by another user), including the Windows cross build
# (mingw-w64 posix compilers) and wine to run its tests. libclang-rt-14-dev
# holds the libFuzzer runtime; clang only recommends it, so it is named here.
set -euo pipefail
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config dpkg-dev file lintian man-db \
  libgtest-dev libgmock-dev googletest libbenchmark-dev libssl-dev openssl ca-certificates \
  libfltk1.3-dev fluid fonts-ipafont-gothic xvfb xdotool x11-apps imagemagick tmux \
  python3 python3-aiosmtpd dovecot-pop3d \
  g++-mingw-w64-x86-64-posix wine wine64 locales fonts-noto-cjk \
  clang-14 libclang-rt-14-dev

# Wine takes its system code page from LANG: the Windows tests run under
# ja_JP.UTF-8 so that wine behaves like a Japanese Windows (code page 932).
if ! locale -a 2>/dev/null | grep -qiE '^ja_JP\.utf-?8$'; then
  "${as_root[@]}" sed -i -E 's/^#[[:space:]]*(ja_JP\.UTF-8[[:space:]]+UTF-8)/\1/' /etc/locale.gen
  grep -qE '^ja_JP\.UTF-8[[:space:]]+UTF-8' /etc/locale.gen ||
    echo 'ja_JP.UTF-8 UTF-8' | "${as_root[@]}" tee -a /etc/locale.gen >/dev/null
  "${as_root[@]}" locale-gen
fi
