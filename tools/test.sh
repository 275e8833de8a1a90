#!/bin/sh
# Installs what is needed, builds and runs every test. Tests that need a window
# get one from a private Xvfb server.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j2
