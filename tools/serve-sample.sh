#!/bin/sh
# Serves release 1.0 of the sample game on http://127.0.0.1:8642/ (or the port
# given), signed with the sample publisher's key that the default package of
# tools/package.sh trusts, until Ctrl-C: a player's first start of that
# package updates from it.
set -eu
cd "$(dirname "$0")/.."
. tools/sample-site.sh
dir=$(pwd)/demo/sample-site
rm -rf "$dir/game" "$dir/www" "$dir/nginx"
mkdir -p "$dir/www"
sample_game "$dir/game"
sample_key "$dir" >/dev/null
sample_release "$dir/game" "$dir/www" 1.0 "$dir"
sample_news "$dir/www" 1.0
start_nginx "$dir/nginx" "$dir/www" "${1:-$SAMPLE_PORT}"
trap 'kill $nginx_pid 2>/dev/null || true' EXIT
trap 'exit 0' INT TERM
echo "Serving the sample release at $site/vlr2update/ (Ctrl-C stops)"
wait "$nginx_pid"
