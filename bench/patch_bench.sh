#!/bin/bash
# Updates by patch against updates by whole members, for two pairs of
# releases of one file each: a game-like asset pack of SIZE MiB made by
# bench/make_pack_pair.py (a few assets changed or inserted, everything after
# the first change shifted), and velorian-update of the build in BUILD_DIR_BASE
# followed by the one in BUILD_DIR (two nearby builds of an executable).
# For each pair, from releases made with tools/make_release.py and served by
# nginx on loopback: the archive bytes nginx sent for the update from the
# older release with patches and without (--patch-from 0), and whether the
# installed file is the new one byte for byte; the patch tool's time and peak
# resident memory to make the patch; the time to apply it beside md5sum of the
# result, and the peak of the applying process's anonymous memory (its heap;
# the base is mapped from its file).
# Usage: BUILD_DIR_BASE=DIR bench/patch_bench.sh [size-MiB] (default 300;
# about three minutes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
base=${BUILD_DIR_BASE:?the build directory of the older executable}
size_mib=${1:-300}
tool=$(find "$build" -name velorian-patch -type f -perm -u+x | head -1)
work=$(mktemp -d "${WORK_DIR:-/var/tmp}/patch-bench.XXXXXX")
. "$root/bench/lib.sh"

# Bytes of the archives nginx sent since the log was emptied.
archive_bytes() {
    sleep 1 # nginx logs a request when its connection is done with it
    awk '$2 ~ /\.zip$/ { sent += $5 } END { print sent + 0 }' "$work/nginx/access.log"
}

# Best of three wall times of a command, in seconds.
best_of_three() {
    local best= start took
    for _ in 1 2 3; do
        start=$(now)
        "$@" > /dev/null
        took=$(seconds "$start" "$(now)")
        best=$(python3 -c "import sys; print(min(float(a) for a in sys.argv[1:]))" $took $best)
    done
    echo "$best"
}

# Runs the command and prints the peak of its anonymous resident memory in
# MiB, sampled every 10 ms.
peak_anonymous_mib() {
    python3 - "$@" <<'PY'
import subprocess, sys, time
process = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
peak = 0
while process.poll() is None:
    try:
        with open("/proc/%d/status" % process.pid) as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    peak = max(peak, int(line.split()[1]))
    except FileNotFoundError:
        pass
    time.sleep(0.01)
if process.returncode:
    sys.exit("the command failed")
print("%.1f" % (peak / 1024))
PY
}

# Releases 1.0 (OLD) and 1.1 (NEW) of a game with the one file NAME, in the
# server folders rel (with patches) and plain (without); updates an
# installation of 1.0 from each and prints the pair's row.
bench_pair() {
    local label=$1 old=$2 new=$3 name=$4 game=$work/game-$1 folder
    rm -rf "$game" "$work/www" "$work"/install-*
    mkdir -p "$game/$(dirname "$name")"
    cp "$old" "$game/$name"
    python3 "$root/tools/make_release.py" "$game" "$work/www/rel" 1.0 > /dev/null
    make_install "$work/install-rel" rel
    "$build/src/velorian-update" "$work/install-rel" > /dev/null
    cp -a "$work/www/rel" "$work/www/plain"
    cp -a "$work/install-rel" "$work/install-plain"
    make_install "$work/install-plain" plain
    cp "$new" "$game/$name"
    local made_rel made_plain start
    start=$(now)
    python3 "$root/tools/make_release.py" --patch-tool "$tool" "$game" "$work/www/rel" 1.1 > /dev/null
    made_rel=$(seconds "$start" "$(now)")
    start=$(now)
    python3 "$root/tools/make_release.py" --patch-from 0 "$game" "$work/www/plain" 1.1 > /dev/null
    made_plain=$(seconds "$start" "$(now)")
    local -A sent
    for folder in rel plain; do
        : > "$work/nginx/access.log"
        "$build/src/velorian-update" "$work/install-$folder" > /dev/null
        sent[$folder]=$(archive_bytes)
        cmp -s "$new" "$work/install-$folder/$name" || echo "$label: the $folder update installed other bytes" >&2
    done
    local made_patch made_rss applied checked heap
    read -r made_patch made_rss < <(/usr/bin/time -f "%e %M" "$tool" make "$old" "$new" "$work/$label.patch" 2>&1 >/dev/null | tail -1)
    applied=$(best_of_three "$tool" apply "$old" "$work/$label.patch" "$work/$label.out")
    cmp -s "$new" "$work/$label.out" || echo "$label: the tool applied other bytes" >&2
    checked=$(best_of_three md5sum "$work/$label.out")
    heap=$(peak_anonymous_mib "$tool" apply "$old" "$work/$label.patch" "$work/$label.out")
    printf '%-10s %10s %12s %12s %7s %8s %8s %8s %8s %9s %12s\n' "$label" "$(stat -c %s "$new")" \
        "${sent[plain]}" "${sent[rel]}" \
        "$(python3 -c "import sys; print('%.2f%%' % (100 * int(sys.argv[1]) / int(sys.argv[2])))" "${sent[rel]}" "${sent[plain]}")" \
        "$applied" "$checked" "$heap" "$made_patch" "$((made_rss / 1024))" "$made_rel/$made_plain"
}

[ -n "$tool" ] || { echo "no velorian-patch in $build" >&2; exit 1; }
serve_work
mkdir -p "$work/pair"
python3 "$root/bench/make_pack_pair.py" "$work/pair/old.pak" "$work/pair/new.pak" "$size_mib"
printf '%-10s %10s %12s %12s %7s %8s %8s %8s %8s %9s %12s\n' pair "new bytes" "members" "patches" "share" \
    "apply s" "md5sum s" "heap MiB" "make s" "make MiB" "release s"
bench_pair pack "$work/pair/old.pak" "$work/pair/new.pak" data/assets.pak
bench_pair executable "$base/src/velorian-update" "$build/src/velorian-update" bin/velorian-update
echo "members/patches: archive bytes nginx sent for the update from 1.0 without and with patches;"
echo "apply s and md5sum s: best of three; heap: peak anonymous memory while applying;"
echo "make: the patch tool's time and peak resident memory; release s: tools/make_release.py with/without patches"
