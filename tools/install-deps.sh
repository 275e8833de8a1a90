#!/bin/sh
# Installs what the launcher, its tests and its tools need on Debian 12 (run as root).
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq \
    g++ cmake ninja-build pkg-config gettext clang-format \
    libwxgtk3.2-dev libwxgtk-webview3.2-dev libwebkit2gtk-4.0-dev \
    libcurl4-openssl-dev zlib1g-dev uuid-dev libexpat1-dev \
    libsodium-dev libssl-dev libzstd-dev libgtest-dev libgmock-dev libbenchmark-dev \
    xvfb xauth x11-utils xdotool imagemagick util-linux nginx python3 python3-nacl curl unzip time \
    ca-certificates openssl \
    ccache dpkg-dev lintian desktop-file-utils appstream >/dev/null
