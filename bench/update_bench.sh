#!/bin/bash
# Times a full update of a 1 GiB release from nginx on loopback with
# velorian-update beside the launcher's window and the by-hand pipeline (curl
# the archives, unzip them, md5sum the files), prints the update's peak memory
# and request count and how long the window's event loop was blocked at worst,
# then times start to outcome on an up-to-date installation of 20,000 files
# beside find listing them. The window gets a private Xvfb without a display.
# Usage: bench/update_bench.sh [size-MiB] (default 1024); needs a build in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
size_mib=${1:-1024}
work=$(mktemp -d /var/tmp/update-bench.XXXXXX)
nginx_pid=
xvfb_pid=
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A game folder of about size_mib MiB in a few thousand files: two thirds of
# the bytes compress well, one third are random.
make_game() {
    python3 - "$1" "$2" "$3" <<'PY'
import os, random, sys
folder, total, count = sys.argv[1], int(sys.argv[2]) << 20, int(sys.argv[3])
rng = random.Random(7)
words = [bytes(rng.choice(b"abcdefghij ") for _ in range(64)) for _ in range(512)]
for i in range(count):
    size = total // count
    path = os.path.join(folder, "dir%02d" % (i % 40), "file%05d.%s" % (i, "res" if i % 3 else "bin"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        if i % 3 == 0:
            out.write(os.urandom(size))
        else:
            chunk = b"".join(rng.choice(words) for _ in range(1024))
            for start in range(0, size, len(chunk)):
                out.write(chunk[: min(len(chunk), size - start)])
PY
}

start_nginx() {
    local state=$work/nginx port
    mkdir -p "$state/tmp"
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    sed -e "s|@STATE@|$state|g; s|@ROOT@|$work/www|g; s|@PORT@|$port|g; s|@TOKEN@|bench|g" \
        "$root/tests/servers/nginx.conf.in" > "$state/nginx.conf"
    nginx -c "$state/nginx.conf" -e "$state/error.log" &
    nginx_pid=$!
    until curl -s -o /dev/null "http://127.0.0.1:$port/.fixture-token"; do sleep 0.1; done
    base_url=http://127.0.0.1:$port/
}

# An installation directory whose launcher.conf points at the server; the
# telemetry service is a closed port, so its events fail at once.
make_install() {
    mkdir -p "$1"
    printf 'baseUrl=%s\nuploadUrl=http://127.0.0.1:1/telemetry\n' "$base_url" > "$1/launcher.conf"
}

# velorian-update in a fresh installation: sets update_seconds, update_cpu
# (user and system seconds) and update_kib (peak resident memory).
command_update() {
    make_install "$1"
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$build/src/velorian-update" "$1" > /dev/null
    local user system
    read -r update_seconds user system update_kib < "$work/time.txt"
    update_cpu=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) + float(sys.argv[2])))" "$user" "$system")
}

# The launcher in a fresh installation, timed from its start to "Update done."
# in its log: sets window_seconds and window_cpu (its user and system seconds
# until then). A 10 ms timer inside it logs the delays of its event loop over
# 20 ms; of all runs, start_delay_ms keeps the longest while the window opens
# and loop_delay_ms the longest from the check's start to "Update done.".
start_delay_ms=0
loop_delay_ms=0
window_update() {
    local install=$1 launcher_pid
    make_install "$install"
    sync
    printf 'newsUrl=%snews.html\n' "$base_url" >> "$install/launcher.conf"
    cp "$build/src/launcher" "$install/launcher"
    if [ -z "${DISPLAY:-}" ]; then
        Xvfb -displayfd 5 -screen 0 1280x1024x24 5> "$work/display" 2> /dev/null &
        xvfb_pid=$!
        until [ -s "$work/display" ]; do sleep 0.1; done
        export DISPLAY=:$(cat "$work/display")
    fi
    local start=$(now)
    (cd "$install" && LAUNCHER_LOOP_PROBE=1 exec ./launcher) > /dev/null 2>&1 &
    launcher_pid=$!
    until grep -qs -e "Update done\.$" -e "Update stopped" "$install"/logs/*.txt; do sleep 0.05; done
    window_seconds=$(seconds "$start" "$(now)")
    window_cpu=$(awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$launcher_pid/stat")
    kill -TERM "$launcher_pid"
    wait "$launcher_pid" || true
    local opening updating
    read -r opening updating < <(awk '/ Starting local checks\.$/ { phase = 1 } / Update done\.$/ { exit }
                  / blocked for / { ms = $(NF - 1); if (ms > most[phase]) most[phase] = ms }
                  END { print most[0] + 0, most[1] + 0 }' "$install"/logs/*.txt)
    start_delay_ms=$((opening > start_delay_ms ? opening : start_delay_ms))
    loop_delay_ms=$((updating > loop_delay_ms ? updating : loop_delay_ms))
}

seconds() { python3 -c "import sys; print('%.2f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$@"; }
least() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:] if x))" "$@"; }
now() { date +%s.%N; }

echo "== Full update of a $size_mib MiB release =="
make_game "$work/game" "$size_mib" 3000
python3 "$root/tools/make_release.py" "$work/game" "$work/www" 1.0
start_nginx
sync

echo "<p>Benchmark</p>" > "$work/www/news.html"
# Three rounds of the command and the window in turn, so that other load on
# the machine and the disk's write-back of the previous run weigh on both
# alike; the best of each counts.
update_best= update_cpu_best= window_best= window_cpu_best=
for round in 1 2 3; do
    rm -rf "$work/install" "$work/window"
    : > "$work/nginx/access.log"
    command_update "$work/install"
    if [ "$round" = 1 ]; then
        requests=$(grep -c '\.zip HTTP' "$work/nginx/access.log" || true)
        peak_kib=$update_kib
        diff -r -q -x launcher.conf -x logs -x client.id -x version.inf -x manifest2.xml -x pt -x lock \
            "$work/game" "$work/install" > /dev/null && same=identical || same=DIFFERENT
    fi
    window_update "$work/window"
    if [ "$round" = 1 ]; then
        diff -r -q -x launcher.conf -x logs -x client.id -x version.inf -x manifest2.xml -x pt -x lock \
            -x launcher -x user.conf "$work/game" "$work/window" > /dev/null && window_same=identical ||
            window_same=DIFFERENT
    fi
    update_best=$(least "$update_seconds" "$update_best")
    update_cpu_best=$(least "$update_cpu" "$update_cpu_best")
    window_best=$(least "$window_seconds" "$window_best")
    window_cpu_best=$(least "$window_cpu" "$window_cpu_best")
done
archives=$(ls "$work/www"/*.zip | wc -l)

mkdir -p "$work/pipeline"
start=$(now)
for archive in "$work/www"/*.zip; do
    curl -s -o "$work/pipeline/$(basename "$archive")" "$base_url$(basename "$archive")"
done
for archive in "$work/pipeline"/*.zip; do unzip -q -o "$archive" -d "$work/pipeline/files"; done
(cd "$work/pipeline/files" && find . -type f -print0 | xargs -0 md5sum > /dev/null)
pipeline_seconds=$(seconds "$start" "$(now)")

echo "velorian-update: ${update_best} s (CPU ${update_cpu_best} s), peak RSS $((peak_kib / 1024)) MiB, $requests range requests for $archives archives, installation $same"
echo "launcher window: ${window_best} s to \"Update done.\" (CPU ${window_cpu_best} s), installation $window_same"
echo "longest event-loop delay of the window: ${loop_delay_ms} ms during the update, ${start_delay_ms} ms while it opens (20 ms and less count as 0)"
python3 -c "import sys; print('ratio window/velorian-update: %.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" \
    "$window_best" "$update_best"
echo "curl+unzip+md5sum: ${pipeline_seconds} s"
python3 -c "import sys; print('ratio update/pipeline: %.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" \
    "$update_best" "$pipeline_seconds"
rm -rf "$work/game" "$work/www"/* "$work/install" "$work/window" "$work/pipeline"

echo "== Start to outcome on an up-to-date installation of 20,000 files =="
make_game "$work/game" 80 20000
python3 "$root/tools/make_release.py" "$work/game" "$work/www" 2.0 > /dev/null
make_install "$work/install"
"$build/src/velorian-update" "$work/install" > /dev/null
best=
for run in 1 2 3; do
    start=$(now)
    "$build/src/velorian-update" "$work/install" > /dev/null
    elapsed=$(seconds "$start" "$(now)")
    best=$(python3 -c "import sys; print(min(float(x) for x in sys.argv[1:] if x))" "$elapsed" "$best")
done
start=$(now)
find "$work/install" -type f -printf '%s %T@\n' > /dev/null
echo "velorian-update, up to date: best of 3 ${best} s; find listing sizes and times: $(seconds "$start" "$(now)") s"
