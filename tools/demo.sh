#!/bin/sh
# Installs what is needed, builds, publishes a sample release on a local nginx,
# brings a sample installation in demo/ up to date from it with velorian-update
# and starts the launcher there. Without a display the launcher runs under Xvfb
# for a while, then it is closed and its log printed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

demo=$(pwd)/demo
server=$demo/server
rm -rf "$server"
mkdir -p "$demo" "$server/game/data" "$server/www" "$server/nginx/tmp"

# The sample game: a stand-in executable, text that compresses and bytes that do not.
echo "Velorian stand-in" > "$server/game/velorian.exe"
seq 1 200000 > "$server/game/data/numbers.txt"
head -c 3000000 /dev/urandom > "$server/game/data/textures.res"
python3 tools/make_release.py "$server/game" "$server/www/vlr2update" 1.0

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s|@STATE@|$server/nginx|g; s|@ROOT@|$server/www|g; s|@PORT@|$port|g; s|@TOKEN@|demo|g" \
    tests/servers/nginx.conf.in > "$server/nginx/nginx.conf"
nginx -c "$server/nginx/nginx.conf" -e "$server/nginx/error.log" &
nginx_pid=$!
trap 'kill $nginx_pid 2>/dev/null || true' EXIT
until curl -s -o /dev/null "http://127.0.0.1:$port/.fixture-token"; do sleep 0.1; done

cp build/src/launcher "$demo/launcher"
cat > "$demo/launcher.conf" <<CONF
enableLogDebug=1
baseUrl=http://127.0.0.1:$port/vlr2update/
uploadUrl=http://127.0.0.1:$port/telemetry
gameExecutable=velorian.exe
minSysMemoryMB=1600
CONF

echo "Updating $demo from the sample release on http://127.0.0.1:$port/vlr2update/"
build/src/velorian-update "$demo"
cd "$demo"

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting the launcher in $demo"
    ./launcher
    exit
fi

seconds=${DEMO_SECONDS:-15}
echo "No display found: running the launcher in $demo under Xvfb for $seconds seconds."
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c "./launcher & pid=\$!; sleep $seconds; kill -TERM \$pid; wait \$pid"
log=$(ls -t logs/launcher_log-*.txt | head -n 1)
echo "Log file $demo/$log:"
cat "$log"
