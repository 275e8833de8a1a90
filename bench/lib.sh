# Shared by the benchmark scripts: sourced after they set root and work.

# On exit: the servers that the script started (their pids in nginx_pid,
# proxy_pid, xvfb_pid) end, and $work goes.
nginx_pid= proxy_pid= xvfb_pid=
cleanup() {
    local pid
    for pid in $nginx_pid $proxy_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# A game folder of about $2 MiB in $3 files: two thirds of the files compress
# well, one third are random.
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

project_dir=$root
. "$root/tools/sample-site.sh"

# nginx on a free loopback port serving $work/www; sets nginx_pid and base_url.
serve_work() {
    start_nginx "$work/nginx" "$work/www"
    base_url=$site
}

# An installation directory $1 whose launcher.conf points at the release
# folder $2 of the server; the telemetry service is a closed port, so its
# events fail at once.
make_install() {
    mkdir -p "$1"
    printf 'baseUrl=%s/%s/\nuploadUrl=http://127.0.0.1:1/telemetry\n' "$base_url" "$2" > "$1/launcher.conf"
}

# The files an installation holds besides the game's.
LAUNCHER_FILES=(-x launcher.conf -x logs -x client.id -x version.inf -x manifest2.xml -x pt -x lock)

now() { date +%s.%N; }
seconds() { python3 -c "import sys; print('%.3f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$@"; }
