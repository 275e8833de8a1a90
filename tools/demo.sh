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

. tools/sample-site.sh
demo=$(pwd)/demo
server=$demo/server
# Each run makes a new key and publishes 1.0 again: an installation that a
# former run brought to 1.1 would rightly refuse both.
rm -rf "$demo"
mkdir -p "$demo" "$server/www"

sample_game "$server/game"
# The publisher's key pair: the releases are signed, and the installation
# takes only what that key signed.
release_key=$(sample_key "$server")
sample_release "$server/game" "$server/www" 1.0 "$server"

start_nginx "$server/nginx" "$server/www"
trap 'kill $nginx_pid 2>/dev/null || true' EXIT

cp build/src/launcher "$demo/launcher"
sample_conf "$site" "$release_key" > "$demo/launcher.conf"

echo "Bringing $demo to release 1.0 from $site/vlr2update/"
build/src/velorian-update "$demo"

# Release 1.1 changes the textures and adds a file; the launcher fetches them.
head -c 3000000 /dev/urandom > "$server/game/data/textures.res"
echo "Release 1.1" > "$server/game/data/notes.txt"
sample_release "$server/game" "$server/www" 1.1 "$server"
sample_news "$server/www" 1.1
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
