# Sourced by the scripts that publish the sample game: tools/demo.sh,
# tools/serve-sample.sh, tools/package.sh and tools/check-package.sh, which run
# from the repository's root, and the benchmarks' bench/lib.sh, which names
# that root in project_dir.

# The port of tools/serve-sample.sh, which the default package's launcher.conf names.
SAMPLE_PORT=8642

# sample_game DIR: a stand-in executable, text that compresses and bytes that do not.
sample_game() {
    mkdir -p "$1/data"
    cat > "$1/velorian.exe" <<'GAME'
#!/bin/sh
# Stands in for the game: shows the arguments that the launcher passed.
shown=$(dirname "$0")/game-arguments.txt
{ echo "Velorian stand-in started with:"; for arg in "$@"; do echo "  $arg"; done; } > "$shown"
cat "$shown"
if [ -n "${DISPLAY:-}" ] && command -v xmessage >/dev/null; then xmessage -center -file "$shown"; fi
GAME
    seq 1 200000 > "$1/data/numbers.txt"
    head -c 3000000 /dev/urandom > "$1/data/textures.res"
}

# sample_key DIR: the sample publisher's key pair in DIR/signing.key, made
# once; prints launcher.conf's releaseKey line for it.
sample_key() {
    if [ ! -f "$1/release-key.conf" ]; then
        mkdir -p "$1"
        # Debian's python3 sees python3-nacl.
        /usr/bin/python3 tools/make_signing_key.py "$1/signing.key" > "$1/release-key.conf.part"
        mv "$1/release-key.conf.part" "$1/release-key.conf"
    fi
    cat "$1/release-key.conf"
}

# sample_release GAME WWW VERSION KEYDIR: publishes GAME as VERSION, signed.
sample_release() {
    /usr/bin/python3 tools/make_release.py "$1" "$2/vlr2update" "$3" --sign-key "$4/signing.key" >/dev/null
}

# sample_conf SITE RELEASE_KEY_LINE: the sample launcher.conf for the server at SITE.
sample_conf() {
    cat <<CONF
enableLogDebug=1
baseUrl=$1/vlr2update/
newsUrl=$1/news/index.html?CLIENTID=\${clientid}&SESSIONID=\${sessionid}&VERSIONID=\${versionid}&FIRSTTIME=\${firsttime}
problemsUrl=$1/news/problems.html?CLIENTID=\${clientid}&SESSIONID=\${sessionid}
uploadUrl=$1/telemetry
gameExecutable=velorian.exe
minSysMemoryMB=1
$2
CONF
}

# sample_news WWW VERSION: the news page and the help page.
sample_news() {
    mkdir -p "$1/news"
    cat > "$1/news/index.html" <<PAGE
<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Velorian</title></head>
<body style="font-family: sans-serif; margin: 2em; background: #17305c; color: #f5c442">
<h1>Velorian $2</h1>
<p>New textures are on their way to your installation.</p>
<p><a style="color: white" href="httpx://127.0.0.1/news/more.html">Read more in your browser</a></p>
</body></html>
PAGE
    echo "<p>Problems? Help for your installation.</p>" > "$1/news/problems.html"
}

# start_nginx STATE ROOT [PORT]: serves ROOT on 127.0.0.1:PORT (a free port
# unless given) in the background, its files in STATE; sets nginx_pid and site.
# The caller stops it.
start_nginx() {
    port=${3:-$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')}
    mkdir -p "$1/tmp"
    sed -e "s|@STATE@|$1|g; s|@ROOT@|$2|g; s|@PORT@|$port|g; s|@TLS@||g" \
        "${project_dir:-.}/tests/servers/nginx.conf.in" > "$1/nginx.conf"
    nginx -c "$1/nginx.conf" -e "$1/error.log" &
    nginx_pid=$!
    until curl -s -o /dev/null "http://127.0.0.1:$port/"; do
        # A port already taken ends nginx at once.
        kill -0 "$nginx_pid" 2>/dev/null || { echo "nginx did not start: see $1/error.log" >&2; return 1; }
        sleep 0.1
    done
    site=http://127.0.0.1:$port
}
