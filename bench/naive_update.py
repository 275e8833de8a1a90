#!/usr/bin/env python3
"""A naive update client in plain Python, the yardstick of bench/update_bench.sh.

It does what the launcher does, the obvious way and with the standard library
only: asks for the current version, and when the installation holds another
one fetches the gzip'ed manifest, reads each archive's run of members with one
ranged GET, inflates each member, writes it and checks its MD5, then writes the
local manifest and the version file. When the versions agree it reads the local
manifest and looks at each listed file, as a quick start does.

Usage: naive_update.py BASE_URL INSTALL_DIR [LANGUAGE]
"""

import gzip
import hashlib
import os
import sys
import urllib.request
import xml.etree.ElementTree as ElementTree
import zlib
from xml.sax.saxutils import quoteattr


def fetch(url, start=None):
    request = urllib.request.Request(url)
    if start is not None:
        request.add_header("Range", f"bytes={start}-")
    return urllib.request.urlopen(request)


def read_exactly(body, count):
    data = body.read(count)
    if len(data) != count:
        raise RuntimeError("short body")
    return data


def install(records, base_url, install_dir):
    by_archive = {}
    for record in records:
        by_archive.setdefault(record["source_zip"], []).append(record)
    local = []
    for archive, members in sorted(by_archive.items()):
        members.sort(key=lambda record: int(record["offset"]))
        position = int(members[0]["offset"])
        with fetch(base_url + archive, position) as body:
            for record in members:
                offset = int(record["offset"])
                read_exactly(body, offset - position)
                data = read_exactly(body, int(record["compressed_size"]))
                position = offset + len(data)
                if record["compressed"] == "true":
                    data = zlib.decompress(data, -zlib.MAX_WBITS)
                if hashlib.md5(data).hexdigest() != record["checksum"].lower():
                    raise RuntimeError("corrupt " + record["name"])
                path = os.path.join(install_dir, *record["name"].split("\\"))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as out:
                    out.write(data)
                status = os.stat(path)
                local.append((record["name"], record["checksum"], int(status.st_mtime), status.st_size))
    return local


def write_local_manifest(path, local):
    with open(path, "w", encoding="utf-8", newline="\r\n") as out:
        out.write("<manifest>\n")
        for name, checksum, mtime, size in local:
            out.write(f"\t<file name={quoteattr(name)} checksum={quoteattr(checksum)} "
                      f"timestamp=\"{mtime}\" size=\"{size}\" />\n")
        out.write("</manifest>\n")


def main(base_url, install_dir, language="pt"):
    with fetch(f"{base_url}version-win-{language}.php") as answer:
        remote_version = answer.read().decode().splitlines()[0]
    version_file = os.path.join(install_dir, "version.inf")
    try:
        with open(version_file, encoding="utf-8") as stored:
            local_version = stored.read().splitlines()[0]
    except (OSError, IndexError):
        local_version = "invalid"
    manifest_file = os.path.join(install_dir, "manifest2.xml")
    if local_version == remote_version:
        names = [element.get("name") for element in ElementTree.parse(manifest_file).getroot()]
        missing = [name for name in names if not os.path.isfile(os.path.join(install_dir, *name.split("\\")))]
        print(f"up to date, {len(names)} files, {len(missing)} missing")
        return 0
    with fetch(f"{base_url}{remote_version}.xml.gz") as answer:
        manifest = gzip.decompress(answer.read())
    records = [element.attrib for element in ElementTree.fromstring(manifest)]
    local = install(records, base_url, install_dir)
    write_local_manifest(manifest_file, local)
    with open(version_file, "w", encoding="utf-8") as out:
        out.write(remote_version)
    print(f"installed {len(local)} files of {remote_version}")
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
