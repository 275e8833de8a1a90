#!/bin/sh
# Builds the fuzz targets with clang into build-fuzz/ and runs them one after
# the other, each for a fixed time, on a working corpus that starts from the
# committed seeds in fuzz/corpus/. Findings land in build-fuzz/artifacts/.
# Usage: fuzz/run.sh [seconds-per-target (default 600)] [target ...]
# Targets: remote_manifest local_manifest config first_line version.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${1:-600}
[ $# -gt 0 ] && shift
targets=${*:-remote_manifest local_manifest config first_line version}

cmake -S "$root" -B "$build" -G Ninja -DLAUNCHER_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 > /dev/null
cmake --build "$build" --target fuzzers -j2

mkdir -p "$build/artifacts"
status=0
for target in $targets; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    dict=
    case $target in *manifest) dict=-dict=$root/fuzz/manifest.dict ;; esac
    echo "== $target: $seconds s"
    # Files of the targets that need them, on a RAM disk where there is one.
    scratch=$(mktemp -d "$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )/launcher-fuzz-$target.XXXXXX")
    # A slow input (10 s) or a hungry one (2 GiB) counts as a finding too.
    if ! TMPDIR=$scratch "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" $dict \
        "$corpus" "$root/fuzz/corpus/$target" > "$build/$target.log" 2>&1; then
        status=1
        echo "finding: see $build/$target.log and $build/artifacts/"
    fi
    rm -rf "$scratch"
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+.*DONE' "$build/$target.log" || true
done
exit $status
