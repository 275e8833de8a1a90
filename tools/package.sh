#!/bin/sh
# Builds the players' Debian package, velorian_VERSION_ARCH.deb: the Release
# launcher and velorian-update, the publisher's launcher.conf, the velorian
# command that runs them from the player's own folder, the menu entry, icons,
# AppStream metadata and manual pages. Runs as root, like tools/demo.sh.
set -eu

usage() {
    cat <<'USAGE'
Usage: tools/package.sh [--config LAUNCHER_CONF] [--release-key KEY] [--output DIR]
  --config       the publisher's launcher.conf (default: the sample one,
                 for tools/serve-sample.sh)
  --release-key  the publisher's public key, as make_signing_key.py prints it
                 (with or without "releaseKey="); replaces the file's releaseKey
  --output       where the .deb goes (default: the current directory)
USAGE
}

config= key= output=.
while [ $# -gt 0 ]; do
    case $1 in
    --config | --release-key | --output)
        [ $# -ge 2 ] || { usage >&2; exit 2; }
        case $1 in
        --config) config=$(readlink -f "$2") ;;
        --release-key) key=${2#releaseKey=} ;;
        --output) output=$2 ;;
        esac
        shift 2
        ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
    esac
done
[ -z "$config" ] || [ -f "$config" ] || { echo "package.sh: no file $config" >&2; exit 1; }
mkdir -p "$output"
output=$(readlink -f "$output")
cd "$(dirname "$0")/.."
. tools/sample-site.sh
tools/install-deps.sh

# The package's version comes from its changelog and must name the launcher's own.
version=$(dpkg-parsechangelog -l packaging/changelog -S Version)
launcher_version=$(sed -n 's/.*LAUNCHER_VERSION\[\] = "\(.*\)";/\1/p' src/app/Version.h)
if [ "${version%-*}" != "$launcher_version" ]; then
    echo "package.sh: packaging/changelog names $version, the launcher is $launcher_version" >&2
    exit 1
fi
arch=$(dpkg --print-architecture)
id=org.velorian.Launcher

# Debian's hardening flags, without its -g -O2 (the Release type sets the optimisation).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2"
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-package --target launcher velorian-update

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
lib=$root/usr/lib/velorian
doc=$root/usr/share/doc/velorian
install -d "$lib" "$root/usr/bin" "$root/usr/share/applications" "$root/usr/share/metainfo" \
    "$root/usr/share/man/man6" "$doc" "$root/usr/share/lintian/overrides" "$root/DEBIAN"
for exe in launcher velorian-update; do
    install -m 755 "build-package/src/$exe" "$lib/$exe"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$lib/$exe"
done
if [ -n "$config" ]; then
    cp "$config" "$lib/launcher.conf"
else
    sample_conf "http://127.0.0.1:$SAMPLE_PORT" "$(sample_key demo/sample-site)" > "$lib/launcher.conf"
fi
if [ -n "$key" ]; then
    sed -i '/^releaseKey=/d' "$lib/launcher.conf"
    echo "releaseKey=$key" >> "$lib/launcher.conf"
fi
echo "$version" > "$lib/package-version"
install -m 755 packaging/velorian "$root/usr/bin/velorian"
ln -s ../lib/velorian/velorian-update "$root/usr/bin/velorian-update"

install -m 644 "packaging/$id.desktop" "$root/usr/share/applications/$id.desktop"
date=$(date -u -d "@$(dpkg-parsechangelog -l packaging/changelog -S Timestamp)" +%F)
sed -e "s/@VERSION@/$version/; s/@DATE@/$date/" "packaging/$id.metainfo.xml" \
    > "$root/usr/share/metainfo/$id.metainfo.xml"
for size in 48 64 128 256; do
    icons=$root/usr/share/icons/hicolor/${size}x$size/apps
    install -d "$icons"
    convert resources/launcher-icon.png -resize "${size}x$size" -strip \
        -define png:exclude-chunks=date,time "$icons/$id.png"
done
for page in velorian.6 velorian-update.6; do
    gzip -9n < "packaging/$page" > "$root/usr/share/man/man6/$page.gz"
done
install -m 644 packaging/copyright "$doc/copyright"
gzip -9n < packaging/changelog > "$doc/changelog.Debian.gz"
install -m 644 packaging/lintian-overrides "$root/usr/share/lintian/overrides/velorian"
chmod -R u=rwX,go=rX "$root/usr"
chmod 755 "$lib/launcher" "$lib/velorian-update" "$root/usr/bin/velorian"

# dpkg-shlibdeps reads the package list of a source tree: a minimal one here.
mkdir "$stage/debian"
printf 'Source: velorian\n\nPackage: velorian\nArchitecture: any\n' > "$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O root/usr/lib/velorian/launcher root/usr/lib/velorian/velorian-update |
    sed -n 's/^shlibs:Depends=//p')
size=$(du -sk --apparent-size "$root/usr" | cut -f1)
sed -e "s/@VERSION@/$version/; s/@ARCH@/$arch/; s/@SIZE@/$size/; s/@DEPENDS@/$depends/" \
    packaging/control.in > "$root/DEBIAN/control"
(cd "$root" && find usr -type f -exec md5sum {} +) > "$root/DEBIAN/md5sums"
deb=$output/velorian_${version}_$arch.deb
dpkg-deb --build --root-owner-group "$root" "$deb" >/dev/null
echo "$deb"
