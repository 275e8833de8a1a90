#!/bin/sh
# Configures and builds into build/ (extra arguments go to cmake's configure step).
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja "$@" >/dev/null
cmake --build build
