#!/bin/sh
# The velorian command against a package whose launcher is a stand-in that
# records how it was started: the player's folder, game and edits survive
# every start, and a newer package reaches the folder.
set -eu
bootstrap=$(dirname "$(readlink -f "$0")")/../../packaging/velorian
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# package VERSION CONF: the package's files, its launcher a stand-in of that version.
package() {
    mkdir -p "$work/lib"
    printf '#!/bin/sh\n# %s\nprintf "%%s|" "$0" "$@" > "$HOME/started"\n' "$1" > "$work/lib/launcher"
    chmod 755 "$work/lib/launcher"
    echo "$1" > "$work/lib/velorian-update"
    echo "$1" > "$work/lib/package-version"
    echo "$2" > "$work/lib/launcher.conf"
}
start() { env -u XDG_DATA_HOME -u VELORIAN_FOLDER HOME="$work" VELORIAN_LIB_DIR="$work/lib" sh "$bootstrap" "$@"; }
folder=$work/.local/share/velorian

package 1.0-1 baseUrl=one
start --relaunch "two words"
[ "$(cat "$work/started")" = "$folder/launcher|--relaunch|two words|" ] || fail "started $(cat "$work/started")"
[ "$(stat -c %a "$folder")" = 700 ] || fail "the folder is open to others"
echo game > "$folder/game.dat"

# Each row: package version, package conf, player's conf before the start,
# then what the folder must hold after it: launcher version, conf, and whether
# the self-update's download is still there (a newer package removes it).
while read -r version conf before want_launcher want_conf want_new; do
    package "$version" "$conf"
    echo "$before" > "$folder/launcher.conf"
    touch "$folder/launcher_new.exe"
    start
    grep -q "# $want_launcher" "$folder/launcher" || fail "$version: launcher is not $want_launcher"
    grep -qx "$want_launcher" "$folder/velorian-update" || fail "$version: velorian-update is not $want_launcher"
    [ "$(cat "$folder/launcher.conf")" = "$want_conf" ] || fail "$version: launcher.conf is $(cat "$folder/launcher.conf")"
    [ "$(cat "$folder/game.dat")" = game ] || fail "$version: the game's file changed"
    [ "$(test -e "$folder/launcher_new.exe" && echo kept || echo gone)" = "$want_new" ] ||
        fail "$version: the self-update's download is not $want_new"
done <<'ROWS'
1.0-1 baseUrl=one baseUrl=mine 1.0-1 baseUrl=mine kept
1.0-2 baseUrl=one baseUrl=mine 1.0-2 baseUrl=mine gone
1.1-1 baseUrl=two baseUrl=mine 1.1-1 baseUrl=two gone
1.0-1 baseUrl=two baseUrl=mine 1.1-1 baseUrl=mine kept
ROWS

# A folder the player names, by option or environment, is used instead.
start --folder "$work/chosen" -x
[ "$(cat "$work/started")" = "$work/chosen/launcher|-x|" ] || fail "--folder started $(cat "$work/started")"
VELORIAN_FOLDER=$work/env HOME="$work" VELORIAN_LIB_DIR="$work/lib" sh "$bootstrap"
[ -x "$work/env/launcher" ] || fail "VELORIAN_FOLDER was not used"
