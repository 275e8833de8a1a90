#!/bin/bash
# An update over a slow link: a release of 3,000 files, then a newer one that
# changes 300 of them scattered over its archives, served by nginx on loopback
# behind bench/link_proxy.py (40 ms each way, 50 MB/s unless given). Times
# velorian-update bringing an installation of the old release to the new one
# through the link beside one curl of as many bytes through the same link, and
# counts the update's requests, ranges and connections in nginx's access log.
# Usage: bench/link_bench.sh [latency-ms] [MB/s]; needs a build in build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
latency_ms=${1:-40}
rate=${2:-50}
work=$(mktemp -d "${WORK_DIR:-/var/tmp}/link-bench.XXXXXX")
. "$root/bench/lib.sh"

# Release 1: 3,000 files of about 28 KB of random bytes (so that archive bytes
# are file bytes), then release 2 with 300 of them, picked at random, new.
python3 - "$work/game" <<'PY'
import os, random, sys
rng = random.Random(15)
for i in range(3000):
    path = os.path.join(sys.argv[1], "dir%02d" % (i % 30), "file%04d.res" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(rng.randbytes(24000 + rng.randrange(8000)))
PY
python3 "$root/tools/make_release.py" --archives 10 "$work/game" "$work/www/www" 1.0 > /dev/null

serve_work
port=${base_url##*:}
make_install "$work/install" www
"$build/src/velorian-update" "$work/install" > /dev/null

python3 - "$work/game" <<'PY'
import os, random, sys
rng = random.Random(16)
for i in sorted(rng.sample(range(3000), 300)):
    path = os.path.join(sys.argv[1], "dir%02d" % (i % 30), "file%04d.res" % i)
    with open(path, "wb") as out:
        out.write(rng.randbytes(24000 + rng.randrange(8000)))
PY
python3 "$root/tools/make_release.py" --archives 10 "$work/game" "$work/www/www" 2.0 > /dev/null

link_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 "$root/bench/link_proxy.py" --latency-ms "$latency_ms" --mbytes-per-s "$rate" "$link_port" "$port" &
proxy_pid=$!
until curl -s -o /dev/null "http://127.0.0.1:$link_port/.fixture-token"; do sleep 0.1; done
sed -i "s|:$port/|:$link_port/|" "$work/install/launcher.conf"

: > "$work/nginx/access.log"
start=$(now)
"$build/src/velorian-update" "$work/install" > /dev/null
update_seconds=$(seconds "$start" "$(now)")
diff -r -q "${LAUNCHER_FILES[@]}" "$work/game" "$work/install" > /dev/null && same=identical || same=DIFFERENT
sleep 1 # nginx logs a request when its connection is done with it
# Lines: "GET /2.0-001.zip HTTP/1.1" 206 123 range="bytes=1-2,5-6" connection=7
read -r requests ranges connections sent < <(awk '$2 ~ /\.zip$/ {
        requests++; sent += $5; connection[$NF] = 1
        ranges += split($6, parts, ",") }
    END { print requests + 0, ranges + 0, length(connection), sent + 0 }' "$work/nginx/access.log")
wanted=$(sed -n 's/.*Download size: \([0-9]*\) bytes\..*/\1/p' "$work/install"/logs/*.txt | tail -1)
all_requests=$(wc -l < "$work/nginx/access.log")
all_connections=$(awk '{ print $NF }' "$work/nginx/access.log" | sort -u | wc -l)

head -c "$wanted" /dev/urandom > "$work/www/blob"
start=$(now)
curl -s -o /dev/null "http://127.0.0.1:$link_port/blob"
curl_seconds=$(seconds "$start" "$(now)")

echo "link: ${latency_ms} ms each way, ${rate} MB/s"
echo "velorian-update 1.0 -> 2.0: ${update_seconds} s, installation $same"
echo "  archives: $requests requests for $ranges ranges over $connections connections, $wanted bytes wanted, $sent bytes sent"
echo "  in all: $all_requests requests over $all_connections connections"
echo "one curl of $wanted bytes: ${curl_seconds} s"
python3 -c "import sys; print('ratio update/curl: %.1f' % (float(sys.argv[1]) / float(sys.argv[2])))" \
    "$update_seconds" "$curl_seconds"
