#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12 (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl ca-certificates \
  libfltk1.3-dev fonts-ipafont-gothic xvfb xdotool x11-apps imagemagick tmux \
  python3 python3-aiosmtpd dovecot-pop3d
