#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12 (as root, or
# through sudo when run by another user).
set -euo pipefail
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config dpkg-dev file \
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl ca-certificates \
  libfltk1.3-dev fonts-ipafont-gothic xvfb xdotool x11-apps imagemagick tmux \
  python3 python3-aiosmtpd dovecot-pop3d
