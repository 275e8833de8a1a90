#!/bin/bash
# Updates over faulty and slow links, each with the build in build/ (BUILD_DIR)
# beside the baseline build BUILD_DIR_BASE. velorian-update installs two
# missing files of SIZE MB each (random bytes: stored members, one archive
# each) through bench/link_proxy.py in front of nginx on loopback:
#   (a) a link at 1 MB/s that cuts every connection after SIZE/5 MB;
#   (b) a link at 2 MB/s to nginx's /impatient/ location, which closes a
#       connection that takes no byte for a second, as the connection that
#       fetches the second archive ahead does while the first one is installed;
# then (c) bench/link_bench.sh, a patch of scattered files over 40 ms each way,
# with each build. For (a) and (b): seconds (a run that has not finished after
# one and a half times the link's time is stopped), the bytes the link carried toward the
# client for each byte wanted, the archive requests nginx logged, the
# "Corrupted download" lines of the update's log and whether the installation
# equals the release.
# Usage: BUILD_DIR_BASE=DIR bench/network_bench.sh [size-MB] (default 20; a
# few minutes in all).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
base=${BUILD_DIR_BASE:?the baseline build directory}
size_mb=${1:-20}
work=$(mktemp -d "${WORK_DIR:-/var/tmp}/network-bench.XXXXXX")
. "$root/bench/lib.sh"

mkdir -p "$work/game"
for name in first second; do
    head -c "$((size_mb * 1000000))" /dev/urandom > "$work/game/$name.bin"
done
python3 "$root/tools/make_release.py" --archives 2 "$work/game" "$work/www/rel" 1.0 > /dev/null
serve_work
port=${base_url##*:}
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# One update of a fresh installation with the build $2 through a link of $3
# MB/s to the release under location $4 (proxy options after that); prints
# the row of case $1.
update_through_link() {
    local label=$1 build_dir=$2 rate=$3 location=$4 name=this
    shift 4
    [ "$build_dir" = "$base" ] && name=baseline
    local install link_port limit start seconds finished moved wanted requests corrupt same
    install=$(mktemp -d "$work/install.XXXXXX")
    link_port=$(free_port)
    python3 "$root/bench/link_proxy.py" --mbytes-per-s "$rate" --count-file "$work/moved" "$@" \
        "$link_port" "$port" &
    proxy_pid=$!
    until curl -s -o /dev/null "http://127.0.0.1:$link_port/.fixture-token"; do sleep 0.1; done
    base_url=http://127.0.0.1:$link_port make_install "$install" "$location"
    : > "$work/nginx/access.log"
    limit=$((3 * size_mb / rate + 10))
    start=$(now)
    timeout -k 10 "$limit" "$build_dir/src/velorian-update" "$install" > /dev/null && finished=yes || finished=no
    seconds=$(seconds "$start" "$(now)")
    kill -TERM "$proxy_pid"
    wait "$proxy_pid" || true
    proxy_pid=
    sleep 1 # nginx logs a request when its connection is done with it
    moved=$(cat "$work/moved")
    wanted=$(sed -n 's/.*Download size: \([0-9]*\) bytes\..*/\1/p' "$install"/logs/*.txt | head -1)
    requests=$(grep -c '\.zip HTTP' "$work/nginx/access.log" || true)
    corrupt=$(cat "$install"/logs/*.txt | grep -c "Corrupted download" || true)
    diff -r -q "${LAUNCHER_FILES[@]}" "$work/game" "$install" > /dev/null 2>&1 && same=identical || same=DIFFERENT
    printf '%-4s %-9s %8s s  finished %-3s  moved/wanted %5s  %3s archive requests  %2s "Corrupted download"  %s\n' \
        "$label" "$name" "$seconds" "$finished" \
        "$(python3 -c "import sys; print('%.2f' % (int(sys.argv[1]) / int(sys.argv[2])))" "$moved" "${wanted:-1}")" \
        "$requests" "$corrupt" "$same"
}

echo "== Two missing files of $size_mb MB; baseline: $base, this: $build =="
for build_dir in "$base" "$build"; do
    update_through_link "(a)" "$build_dir" 1 rel --cut-after "$((size_mb * 200000))"
done
for build_dir in "$base" "$build"; do
    update_through_link "(b)" "$build_dir" 2 impatient/rel
done
kill "$nginx_pid"
nginx_pid=

echo "== (c) A patch of scattered files over 40 ms each way =="
for build_dir in "$base" "$build"; do
    echo "-- $build_dir"
    BUILD_DIR=$build_dir "$root/bench/link_bench.sh" | grep -E "velorian-update|curl|requests"
done
