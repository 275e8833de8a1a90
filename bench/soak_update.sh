#!/bin/bash
# Kills velorian-update with SIGKILL at a random moment of each of many
# updates, alternately to two releases that differ in content, files and
# modes, follows each kill with one complete run, and checks that the
# installation then holds exactly the release: every file byte for byte with
# its mode, nothing else, no temporary file left behind.
# Usage: bench/soak_update.sh [rounds] (default 100); needs a build in build/
# (BUILD_DIR to change it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
rounds=${1:-100}
work=$(mktemp -d "${WORK_DIR:-/var/tmp}/update-soak.XXXXXX")
. "$root/bench/lib.sh"

# Release 2.0 changes a quarter of 1.0's files, drops some data files, adds
# others and makes one executable; data files (.res) are the ones an update
# deletes, so both installations can be compared whole.
make_game "$work/game-1.0" 40 400
cp -a "$work/game-1.0" "$work/game-2.0"
python3 - "$work/game-2.0" <<'PY'
import os, sys
folder = sys.argv[1]
names = sorted(os.path.join(d, f) for d, _, files in os.walk(folder) for f in files)
for i, path in enumerate(names):
    if i % 4 == 0:
        with open(path, "ab") as out:
            out.write(b"changed in 2.0" * (i + 1))
    elif i % 10 == 3 and path.endswith(".res"):
        os.remove(path)
for i in range(20):
    with open(os.path.join(folder, "dir%02d" % i, "added%02d.res" % i), "wb") as out:
        out.write(os.urandom(100000 * (i + 1)))
os.chmod(names[1], 0o755)
PY
for version in 1.0 2.0; do
    python3 "$root/tools/make_release.py" "$work/game-$version" "$work/www/soak" $version > /dev/null
done
serve_work
install=$work/install
make_install "$install" soak

# The installation equals the game folder of the version, modes included.
matches() {
    diff -r -q "${LAUNCHER_FILES[@]}" "$work/game-$1" "$install" > /dev/null &&
        diff <(cd "$work/game-$1" && find . -type f -printf '%p %m\n' | sort) \
            <(cd "$work/game-$1" && find . -type f | sort | (cd "$install" && xargs stat -c '%n %a')) \
            > /dev/null &&
        [ -z "$(find "$install" -name '*\\part')" ] && [ "$(cat "$install/version.inf")" = "$1" ]
}

# Complete updates both ways set the scale of the random moments.
echo 1.0 > "$work/www/soak/version-win-pt.php"
"$build/src/velorian-update" "$install" > /dev/null
echo 2.0 > "$work/www/soak/version-win-pt.php"
start=$(now)
"$build/src/velorian-update" "$install" > /dev/null
full=$(seconds "$start" "$(now)")
echo "An update between the releases takes ${full} s; killing $rounds updates at random moments up to half as long again."

killed=0 failures=0 target=2.0
for round in $(seq "$rounds"); do
    target=$([ "$target" = 1.0 ] && echo 2.0 || echo 1.0)
    echo "$target" > "$work/www/soak/version-win-pt.php"
    moment=$(python3 -c "import random, sys; print(random.uniform(0, 1.5 * float(sys.argv[1])))" "$full")
    "$build/src/velorian-update" "$install" > /dev/null 2>&1 &
    pid=$!
    sleep "$moment"
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null && status=0 || status=$?
    [ "$status" -eq 137 ] && killed=$((killed + 1))
    if ! "$build/src/velorian-update" "$install" > "$work/run.txt" 2>&1 || ! matches "$target"; then
        failures=$((failures + 1))
        echo "round $round: the installation does not match $target"
        tail -3 "$work/run.txt"
    fi
done
echo "$rounds rounds, $killed runs killed before they ended, $failures installations differing from the release"
[ "$failures" -eq 0 ]
