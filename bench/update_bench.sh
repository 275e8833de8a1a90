#!/bin/bash
# Times a full update of a 1 GiB release from nginx on loopback with
# velorian-update beside md5sum over the installed files, the launcher's window
# and the by-hand pipeline (curl the archives, unzip them, md5sum the files),
# prints the update's peak memory and request count and how long the window's
# event loop was blocked at worst; then a fresh install of 20,000 files and a
# start once it is up to date, each beside bench/naive_update.py, with the
# command's peak memory. The window gets a private Xvfb without a display.
# Usage: bench/update_bench.sh [size-MiB] (default 1024); needs a build in
# build/ (BUILD_DIR to change it); WORK_DIR picks the file system (default /var/tmp).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
size_mib=${1:-1024}
work=$(mktemp -d "${WORK_DIR:-/var/tmp}/update-bench.XXXXXX")
. "$root/bench/lib.sh"
ratio() { python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" "$@"; }
# Files freshly deleted make ext4 slower to create new ones for some 30 s:
# every measured run writes into a directory of its own, all removed at the end.
fresh() { mktemp -d "$work/$1.XXXXXX"; }
# Runs a command under /usr/bin/time; sets elapsed (s) and peak (MiB).
timed() {
    local start
    start=$(now)
    /usr/bin/time -f "%M" -o "$work/time.txt" "$@" > /dev/null
    elapsed=$(seconds "$start" "$(now)")
    peak=$(($(cat "$work/time.txt") / 1024))
}

# velorian-update in a fresh installation: sets update_seconds, update_cpu
# (user and system seconds) and update_kib (peak resident memory).
command_update() {
    make_install "$1" big
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$build/src/velorian-update" "$1" > /dev/null
    local user system
    read -r update_seconds user system update_kib < "$work/time.txt"
    update_cpu=$(python3 -c "import sys; print('%.2f' % (float(sys.argv[1]) + float(sys.argv[2])))" "$user" "$system")
}

# The launcher in a fresh installation, timed from its start to "Update done."
# in its log: sets window_seconds, window_work_seconds (from "Starting local
# checks.", leaving out the toolkit's and the web engine's start, which the
# command does not have) and window_cpu (its user and system seconds until
# then). The log is followed by one quiet process: forking grep and sleep
# every 50 ms took a quarter of a core from the window alone. A 10 ms timer
# inside the launcher logs the delays of its event loop over 20 ms; of all
# runs, start_delay_ms keeps the longest while the window opens and
# loop_delay_ms the longest from the check's start to "Update done.".
start_delay_ms=0
loop_delay_ms=0
window_update() {
    local install=$1 launcher_pid
    make_install "$install" big
    sync
    printf 'newsUrl=%s/big/news.html\n' "$base_url" >> "$install/launcher.conf"
    cp "$build/src/launcher" "$install/launcher"
    if [ -z "${DISPLAY:-}" ]; then
        Xvfb -displayfd 5 -screen 0 1280x1024x24 5> "$work/display" 2> /dev/null &
        xvfb_pid=$!
        until [ -s "$work/display" ]; do sleep 0.1; done
        export DISPLAY=:$(cat "$work/display")
    fi
    local ready start checking finished
    rm -f "$work/follow" && mkfifo "$work/follow"
    python3 "$root/bench/follow_log.py" "$install/logs" "Starting local checks." "Update done." "Update stopped" > "$work/follow" &
    exec 6< "$work/follow"
    read -r ready <&6
    start=$(now)
    (cd "$install" && LAUNCHER_LOOP_PROBE=1 exec ./launcher) > /dev/null 2>&1 &
    launcher_pid=$!
    read -r checking finished <&6
    exec 6<&-
    window_seconds=$(seconds "$start" "$finished")
    window_work_seconds=$(seconds "$checking" "$finished")
    window_cpu=$(awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$launcher_pid/stat")
    kill -TERM "$launcher_pid"
    wait "$launcher_pid" || true
    local opening updating
    read -r opening updating < <(awk 'BEGIN { phase = 0 } / Starting local checks\.$/ { phase = 1 } / Update done\.$/ { exit }
                  / blocked for / { ms = $(NF - 1); if (ms > most[phase]) most[phase] = ms }
                  END { print most[0] + 0, most[1] + 0 }' "$install"/logs/*.txt)
    start_delay_ms=$((opening > start_delay_ms ? opening : start_delay_ms))
    loop_delay_ms=$((updating > loop_delay_ms ? updating : loop_delay_ms))
}

least() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:] if x))" "$@"; }
median() { python3 -c "import statistics, sys; print('%.3f' % statistics.median(map(float, sys.argv[1:])))" "$@"; }

echo "== Full update of a $size_mib MiB release =="
make_game "$work/game" "$size_mib" 3000
python3 "$root/tools/make_release.py" "$work/game" "$work/www/big" 1.0
serve_work
sync

echo "<p>Benchmark</p>" > "$work/www/big/news.html"
# Rounds of the command and the window, the first of the two alternating, so
# that the disk's write-back of the previous run and a lucky first run weigh
# on both alike. Run times on a shared virtual machine vary by a third from
# one run to the next: the medians count, the best are shown beside them.
rounds=${ROUNDS:-5}
update_times=() update_cpus=() window_times=() window_work_times=() window_cpus=()
for round in $(seq "$rounds"); do
    install=$(fresh install) window=$(fresh window)
    : > "$work/nginx/access.log"
    for run in $( ((round % 2)) && echo "command window" || echo "window command"); do
        if [ "$run" = command ]; then
            command_update "$install"
            update_times+=("$update_seconds") update_cpus+=("$update_cpu")
            # Round 1 runs the command first: the log holds its requests alone.
            [ "$round" = 1 ] && requests=$(grep -c '\.zip HTTP' "$work/nginx/access.log" || true)
        else
            window_update "$window"
            window_times+=("$window_seconds") window_work_times+=("$window_work_seconds")
            window_cpus+=("$window_cpu")
        fi
    done
    if [ "$round" = 1 ]; then
        peak_kib=$update_kib
        diff -r -q "${LAUNCHER_FILES[@]}" "$work/game" "$install" > /dev/null && same=identical || same=DIFFERENT
        diff -r -q "${LAUNCHER_FILES[@]}" -x launcher -x user.conf "$work/game" "$window" > /dev/null &&
            window_same=identical || window_same=DIFFERENT
    fi
done
update_median=$(median "${update_times[@]}") update_best=$(least "${update_times[@]}")
window_median=$(median "${window_times[@]}") window_best=$(least "${window_times[@]}")
window_work_median=$(median "${window_work_times[@]}")
archives=$(ls "$work/www/big"/*.zip | wc -l)

start=$(now)
(cd "$install" && find . -name '*.res' -print0 -o -name '*.bin' -print0 | xargs -0 md5sum > /dev/null)
md5sum_seconds=$(seconds "$start" "$(now)")

pipeline=$(fresh pipeline)
start=$(now)
for archive in "$work/www/big"/*.zip; do
    curl -s -o "$pipeline/$(basename "$archive")" "$base_url/big/$(basename "$archive")"
done
for archive in "$pipeline"/*.zip; do unzip -q -o "$archive" -d "$pipeline/files"; done
(cd "$pipeline/files" && find . -type f -print0 | xargs -0 md5sum > /dev/null)
pipeline_seconds=$(seconds "$start" "$(now)")

echo "velorian-update, median of $rounds: ${update_median} s (best ${update_best} s, CPU $(median "${update_cpus[@]}") s), peak RSS $((peak_kib / 1024)) MiB, $requests range requests for $archives archives, installation $same"
echo "launcher window, median of $rounds: ${window_median} s to \"Update done.\" (best ${window_best} s), ${window_work_median} s from its check's start (CPU $(median "${window_cpus[@]}") s), installation $window_same"
echo "longest event-loop delay of the window: ${loop_delay_ms} ms during the update, ${start_delay_ms} ms while it opens (20 ms and less count as 0)"
echo "ratio window/velorian-update: $(ratio "$window_median" "$update_median") of the medians, $(ratio "$window_best" "$update_best") of the best, from the check's start $(ratio "$window_work_median" "$update_median") (aim 1.15)"
echo "md5sum over the installed files: ${md5sum_seconds} s; curl+unzip+md5sum: ${pipeline_seconds} s"
echo "ratio update/md5sum: $(ratio "$update_median" "$md5sum_seconds") (aim 1.6)"
echo "ratio update/pipeline: $(ratio "$update_median" "$pipeline_seconds") (aim 0.3)"
rm -rf "$work/game"

echo "== A release of 20,000 files =="
make_game "$work/game" 80 20000
python3 "$root/tools/make_release.py" "$work/game" "$work/www/many" 2.0 > /dev/null
sync
install=$(fresh install)
make_install "$install" many
timed "$build/src/velorian-update" "$install"
fresh_seconds=$elapsed fresh_peak=$peak
reference=$(fresh reference)
timed python3 "$root/bench/naive_update.py" "$base_url/many/" "$reference"
reference_fresh=$elapsed
diff -r -q "${LAUNCHER_FILES[@]}" "$work/game" "$install" > /dev/null && same=identical || same=DIFFERENT
echo "fresh install: velorian-update ${fresh_seconds} s (peak RSS ${fresh_peak} MiB, installation $same), reference ${reference_fresh} s, ratio $(ratio "$fresh_seconds" "$reference_fresh") (aim 0.5)"

best_update= best_reference= upto_peak=0
for run in 1 2 3; do
    timed "$build/src/velorian-update" "$install"
    best_update=$(least "$elapsed" "$best_update")
    upto_peak=$((peak > upto_peak ? peak : upto_peak))
    timed python3 "$root/bench/naive_update.py" "$base_url/many/" "$reference"
    best_reference=$(least "$elapsed" "$best_reference")
done
start=$(now)
find "$install" -type f -printf '%s %T@\n' > /dev/null
echo "find listing the sizes and times of the installed files: $(seconds "$start" "$(now)") s"
echo "up-to-date start: velorian-update best of 3 ${best_update} s (peak RSS ${upto_peak} MiB), reference ${best_reference} s, ratio $(ratio "$best_update" "$best_reference") (aim 0.25)"
