#!/bin/sh
# The package's checks (CI runs them after the test suite): builds the package
# for a sample release on a local nginx, runs lintian (no errors),
# desktop-file-validate and appstreamcli, then a player's first start from the
# unpacked package under Xvfb, with an empty home: velorian must make the
# player's folder and start its copy of the launcher, whose window carries the
# menu entry's class and updates the folder to the release.
set -eu
cd "$(dirname "$0")/.."
. tools/sample-site.sh
id=org.velorian.Launcher
work=$(mktemp -d)
nginx_pid=
trap '[ -z "$nginx_pid" ] || kill "$nginx_pid" 2>/dev/null; rm -rf "$work"' EXIT

mkdir -p "$work/www"
sample_game "$work/game"
release_key=$(sample_key "$work")
sample_release "$work/game" "$work/www" 1.0 "$work"
sample_news "$work/www" 1.0
start_nginx "$work/nginx" "$work/www"
sample_conf "$site" "$release_key" > "$work/launcher.conf"
deb=$(tools/package.sh --config "$work/launcher.conf" --output "$work" | tail -n 1)

echo "Checking $deb"
lintian --fail-on error "$deb"
dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/$id.desktop"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml"

echo "A player's first start from the unpacked package"
mkdir "$work/home"
folder=$work/home/.local/share/velorian
wm_class=$(sed -n 's/^StartupWMClass=//p' "$work/root/usr/share/applications/$id.desktop")
# Message boxes are logged, not shown; the window is closed once the update is done.
LAUNCHER_CONFIRM_BOXES=1 xvfb-run -a -s "-screen 0 1280x1024x24" \
    env -u XDG_DATA_HOME -u VELORIAN_FOLDER -u VELORIAN_LIB_DIR HOME="$work/home" \
    sh -c '
    "$1" & pid=$!
    for tick in $(seq 1 240); do
        grep -qs "Update done\." "$2"/logs/* && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.5
    done
    window=$(xdotool search --name "Velorian Launcher" | head -n 1)
    [ -n "$window" ] && xprop -id "$window" WM_CLASS > "$3/wm_class"
    kill -TERM $pid 2>/dev/null
    wait $pid || true
' check "$work/root/usr/bin/velorian" "$folder" "$work"

fail() { echo "check-package: $*" >&2; exit 1; }
[ "$(stat -c %a "$folder")" = 700 ] || fail "the player's folder is not the player's only"
cmp -s "$work/root/usr/lib/velorian/launcher" "$folder/launcher" || fail "the folder has no copy of the launcher"
cmp -s "$work/launcher.conf" "$folder/launcher.conf" || fail "the folder has not the publisher's launcher.conf"
grep -qs "Update done\." "$folder"/logs/* || fail "the launcher in the folder did not finish the update"
for file in velorian.exe data/numbers.txt data/textures.res; do
    cmp -s "$work/game/$file" "$folder/$file" || fail "the update did not install $file"
done
grep -q "\"$wm_class\"\$" "$work/wm_class" || fail "the window's class is not $wm_class: $(cat "$work/wm_class")"
echo "The package passed its checks."
