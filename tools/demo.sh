#!/bin/sh
# The launcher's main job in its window. Installs what is needed, builds the
# launcher and velorian-update, publishes release 1.0 of a sample game on a
# local nginx, brings demo/ to it with velorian-update, publishes release 1.1
# and a news page, and starts the launcher in demo/, which updates to 1.1.
# With a display the player uses the window as usual; Play starts a stand-in
# game that shows the arguments it got. Without one the launcher runs under
# Xvfb until the update is done (at most 120 s), demo/screenshot.png shows the
# window, and the log's last lines and the update's figures are printed.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target launcher velorian-update

demo=$(pwd)/demo
server=$demo/server
rm -rf "$server" "$demo/screenshot.png"
mkdir -p "$demo" "$server/game/data" "$server/www/news" "$server/nginx/tmp"

# The sample game: a stand-in executable, text that compresses and bytes that do not.
cat > "$server/game/velorian.exe" <<'GAME'
#!/bin/sh
# Stands in for the game: shows the arguments that the launcher passed.
shown=$(dirname "$0")/game-arguments.txt
{ echo "Velorian stand-in started with:"; for arg in "$@"; do echo "  $arg"; done; } > "$shown"
cat "$shown"
if [ -n "${DISPLAY:-}" ] && command -v xmessage >/dev/null; then xmessage -center -file "$shown"; fi
GAME
seq 1 200000 > "$server/game/data/numbers.txt"
head -c 3000000 /dev/urandom > "$server/game/data/textures.res"
# The publisher's key pair (Debian's python3 sees python3-nacl): the releases
# are signed, and the installation takes only what that key signed.
release_key=$(/usr/bin/python3 tools/make_signing_key.py "$server/signing.key")
/usr/bin/python3 tools/make_release.py "$server/game" "$server/www/vlr2update" 1.0 \
    --sign-key "$server/signing.key" >/dev/null

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -e "s|@STATE@|$server/nginx|g; s|@ROOT@|$server/www|g; s|@PORT@|$port|g; s|@TLS@||g" \
    tests/servers/nginx.conf.in > "$server/nginx/nginx.conf"
nginx -c "$server/nginx/nginx.conf" -e "$server/nginx/error.log" &
nginx_pid=$!
trap 'kill $nginx_pid 2>/dev/null || true' EXIT
until curl -s -o /dev/null "http://127.0.0.1:$port/"; do sleep 0.1; done
site=http://127.0.0.1:$port

cp build/src/launcher "$demo/launcher"
rm -f "$demo/user.conf" "$demo/firstRun"
cat > "$demo/launcher.conf" <<CONF
enableLogDebug=1
baseUrl=$site/vlr2update/
newsUrl=$site/news/index.html?CLIENTID=\${clientid}&SESSIONID=\${sessionid}&VERSIONID=\${versionid}&FIRSTTIME=\${firsttime}
problemsUrl=$site/news/problems.html?CLIENTID=\${clientid}&SESSIONID=\${sessionid}
uploadUrl=$site/telemetry
gameExecutable=velorian.exe
minSysMemoryMB=1
$release_key
CONF

echo "Bringing $demo to release 1.0 from $site/vlr2update/"
build/src/velorian-update "$demo"

# Release 1.1 changes the textures and adds a file; the launcher fetches them.
head -c 3000000 /dev/urandom > "$server/game/data/textures.res"
echo "Release 1.1" > "$server/game/data/notes.txt"
/usr/bin/python3 tools/make_release.py "$server/game" "$server/www/vlr2update" 1.1 \
    --sign-key "$server/signing.key" >/dev/null
cat > "$server/www/news/index.html" <<'PAGE'
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Velorian</title></head>
<body style="font-family: sans-serif; margin: 2em; background: #17305c; color: #f5c442">
<h1>Velorian 1.1</h1>
<p>New textures are on their way to your installation.</p>
<p><a style="color: white" href="httpx://127.0.0.1/news/more.html">Read more in your browser</a></p>
</body></html>
PAGE
echo "<p>Problems? Help for your installation.</p>" > "$server/www/news/problems.html"
cd "$demo"

if [ -n "${DISPLAY:-}" ]; then
    echo "Release 1.1 is published. Starting the launcher in $demo"
    ./launcher
    exit
fi

echo "No display found: running the launcher in $demo under Xvfb until its update is done."
export DEMO_LOG_BEFORE="$(ls logs | tail -n 1)"
sleep 1 # logs are named to the second: the launcher's gets a name of its own
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    ./launcher & pid=$!
    log=
    for tick in $(seq 1 240); do
        newest=logs/$(ls logs | tail -n 1)
        [ "$newest" != "logs/$DEMO_LOG_BEFORE" ] && log=$newest
        if [ -n "$log" ] && grep -q -e "Update done\." -e "No new version found\." -e "Update stopped" "$log"; then
            break
        fi
        sleep 0.5
    done
    sleep 2
    window=$(xdotool search --name "Velorian Launcher" | head -n 1)
    [ -n "$window" ] && import -window "$window" screenshot.png
    kill -TERM $pid
    wait $pid
'
log=logs/$(ls logs | tail -n 1)
echo "Last lines of $demo/$log:"
tail -n 15 "$log"
[ -f screenshot.png ] && echo "Screenshot of the window: $demo/screenshot.png"
awk '
    function seconds(line) { split(substr(line, 11, 8), t, ":"); return t[1] * 3600 + t[2] * 60 + t[3] }
    / Starting update\.$/ { start = seconds($0) }
    / Download size: / { bytes = $(NF - 1) }
    / Downloading .* from / { files++ }
    / Update done\.$/ { done = seconds($0) }
    END {
        if (done && done > start) printf "The window updated %d files, %d bytes, in %d s.\n", files, bytes, done - start
        else if (done) printf "The window updated %d files, %d bytes, in under a second.\n", files, bytes
        else print "The window did not finish an update."
    }' "$log"
