#!/bin/sh
# Remakes the seed corpora in fuzz/corpus/ from a small release made by the
# release builder: its manifest (gzip and plain XML), a local manifest of the
# same files, its version answers, and the settings files of an installation.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=$root/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/game/data/maps" "$work/game/bin"
printf 'first release\n' > "$work/game/readme.txt"
: > "$work/game/data/maps/empty.res"
printf 'map data %.0s' $(seq 200) > "$work/game/data/maps/Praça & <1>.unity3d"
printf '#!/bin/sh\n' > "$work/game/bin/run"
chmod 755 "$work/game/bin/run"
python3 "$root/tools/make_release.py" "$work/game" "$work/www" 1.4.0 --launcher-version 3.3.16 > /dev/null

rm -rf "$corpus"
mkdir -p "$corpus/remote_manifest" "$corpus/local_manifest" "$corpus/config" "$corpus/first_line" \
    "$corpus/version"
cp "$work/www/1.4.0.xml.gz" "$corpus/remote_manifest/release.xml.gz"
gzip -dc "$work/www/1.4.0.xml.gz" > "$corpus/remote_manifest/release.xml"
python3 - "$work/game" "$work/www/1.4.0.xml.gz" "$corpus/local_manifest/manifest2.xml" <<'PY'
import gzip, os, sys, xml.etree.ElementTree as ET
from xml.sax.saxutils import quoteattr
game, manifest, out = sys.argv[1:]
lines = ["<manifest>"]
for record in ET.fromstring(gzip.decompress(open(manifest, "rb").read())):
    name = record.get("name")
    status = os.stat(os.path.join(game, *name.split("\\")))
    lines.append("\t<file name=%s checksum=%s timestamp=\"%d\" size=\"%d\" />" % (
        quoteattr(name), quoteattr(record.get("checksum")), int(status.st_mtime), status.st_size))
lines.append("</manifest>")
open(out, "wb").write(("\r\n".join(lines) + "\r\n").encode())
PY
for answer in version-win-pt.php launcherVersion.inf; do
    cp "$work/www/$answer" "$corpus/first_line/$answer"
    cp "$work/www/$answer" "$corpus/version/$answer"
done
printf 'invalid_remote\n' > "$corpus/version/invalid_remote"
printf 'baseUrl=http://127.0.0.1:8080/update\nenableLogDebug=1\nminSysMemoryMB=2048\nuseMiniBrowserOnly=0\n\0resolution=1024x768\nfullscreen=0\nquality=Beautiful\n' \
    > "$corpus/config/installation"
