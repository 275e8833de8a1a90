#!/bin/sh
# Installs what is needed, builds, lays out a sample installation in demo/ and
# starts the launcher there. Without a display it runs under Xvfb for a while,
# then closes it and prints its log.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

demo=$(pwd)/demo
mkdir -p "$demo"
cp build/src/launcher "$demo/launcher"
touch "$demo/velorian.exe"
cat > "$demo/launcher.conf" <<CONF
enableLogDebug=1
baseUrl=http://127.0.0.1:8080/vlr2update/
gameExecutable=velorian.exe
minSysMemoryMB=1600
CONF
cd "$demo"

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting the launcher in $demo"
    exec ./launcher
fi

seconds=${DEMO_SECONDS:-15}
echo "No display found: running the launcher in $demo under Xvfb for $seconds seconds."
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c "./launcher & pid=\$!; sleep $seconds; kill -TERM \$pid; wait \$pid"
log=$(ls -t logs/launcher_log-*.txt | head -n 1)
echo "Log file $demo/$log:"
cat "$log"
