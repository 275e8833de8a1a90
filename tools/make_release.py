#!/usr/bin/env python3
"""Builds a release of the game for the update server.

The update server is a folder of static files. This tool packs a game folder
into zip archives, writes the release's manifest (where each file's data lies in
which archive), and the two small answers the launcher asks for: the current
game version and the current launcher version.
"""

import argparse
import base64
import bisect
import gzip
import hashlib
import itertools
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib
from dataclasses import dataclass
from pathlib import Path
from xml.sax.saxutils import quoteattr

MIB = 1 << 20
CHUNK = MIB
# Samples spread over a file tell whether deflating it all is worth the time.
SAMPLE_COUNT = 16
SAMPLE_SIZE = 4 << 10
DEFAULT_ARCHIVE_MIB = 256
# The launcher reads offsets and sizes as signed 32-bit numbers.
SIGNED_32_LIMIT = 1 << 31
# Without zip64 an archive holds at most this many members.
MAX_MEMBERS = 0xFFFF
# Patches against the files of the previous releases: only for members above this size, kept only
# below this share of the member, made in the launcher's segments by this tool.
DEFAULT_PATCH_FROM = 3
MIN_PATCHED_MEMBER = 64 << 10
MAX_PATCH_SHARE = 0.5
PATCH_SEGMENT = 32 * MIB
PATCH_TOOL = "velorian-patch"
# Versions and language codes become file names and URL parts on the server.
SAFE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*\Z")
# The launcher takes these answers as "nothing installed" and "no release".
RESERVED_VERSIONS = {"invalid", "invalid_remote"}
# A backslash would read as a folder separator in the manifest; the rest cannot appear in XML.
UNUSABLE_IN_NAME = re.compile("[^\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]|\\\\")

LOCAL_HEADER = struct.Struct("<IHHHHHIIIHH")
CENTRAL_HEADER = struct.Struct("<IHHHHHHIIIHHHHHII")
END_RECORD = struct.Struct("<IHHHHIIH")
LOCAL_SIGNATURE = 0x04034B50
CENTRAL_SIGNATURE = 0x02014B50
END_SIGNATURE = 0x06054B50
UTF8_NAME_FLAG = 0x800
MADE_ON_UNIX = 3 << 8 | 20


class ReleaseError(Exception):
    pass


@dataclass
class GameFile:
    path: Path
    name: str  # relative to the game folder, "/" between components
    size: int
    mode: int
    mtime: float

    def encoded_name(self):
        return self.name.encode("utf-8")

    def local_bytes_bound(self):
        """Most bytes this file's local header and data can take: its data stored."""
        return LOCAL_HEADER.size + len(self.encoded_name()) + self.size

    def archive_bytes_bound(self):
        """Most bytes this file can take in an archive, its entry in the central directory included."""
        return self.local_bytes_bound() + CENTRAL_HEADER.size + len(self.encoded_name())


@dataclass
class Member:
    game_file: GameFile
    archive: str
    header_offset: int
    offset: int
    compressed_size: int
    compressed: bool
    crc: int
    checksum: str
    sha256: str


def collect_files(game_dir):
    """Every file below game_dir: a folder's files in name order, then its subfolders in name order."""
    files = []
    folders = [Path(game_dir)]
    while folders:
        folder = folders.pop()
        entries = sorted(os.scandir(folder), key=lambda entry: entry.name)
        subfolders = []
        for entry in entries:
            if entry.is_symlink():
                raise ReleaseError(f"{entry.path} is a symbolic link; a release holds plain files only")
            if entry.is_dir(follow_symlinks=False):
                subfolders.append(Path(entry.path))
            elif entry.is_file(follow_symlinks=False):
                files.append(describe_file(Path(entry.path), game_dir))
            else:
                raise ReleaseError(f"{entry.path} is not a plain file or folder; "
                                   "a release holds plain files only")
        folders.extend(reversed(subfolders))
    if not files:
        raise ReleaseError(f"{game_dir} holds no files")
    return files


def describe_file(path, game_dir):
    name = path.relative_to(game_dir).as_posix()
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        raise ReleaseError(f"{path}: the file name is not valid UTF-8") from None
    if UNUSABLE_IN_NAME.search(name):
        raise ReleaseError(f"{path}: the name holds a backslash or a control character")
    status = path.stat(follow_symlinks=False)
    if status.st_size >= SIGNED_32_LIMIT:
        raise ReleaseError(f"{path} is {status.st_size} bytes; the launcher takes files below 2 GiB only")
    mode = stat.S_IMODE(status.st_mode)
    if mode == 0:
        raise ReleaseError(f"{path} has no permission bits; the launcher refuses a file mode of 0")
    return GameFile(path, name, status.st_size, mode, status.st_mtime)


def split_evenly(files, count):
    """count runs of consecutive files, each of about the same number of bytes."""
    if count > len(files):
        raise ReleaseError(f"cannot make {count} archives out of {len(files)} files")
    ends = list(itertools.accumulate(f.archive_bytes_bound() for f in files))
    cuts = [0]
    for k in range(1, count):
        target = ends[-1] * k / count
        i = bisect.bisect_left(ends, target)
        cut = i + 1 if i == 0 or ends[i] - target <= target - ends[i - 1] else i
        # Every run keeps at least one file.
        cut = min(max(cut, cuts[-1] + 1), len(files) - (count - k))
        cuts.append(cut)
    cuts.append(len(files))
    return [files[start:end] for start, end in zip(cuts, cuts[1:])]


def split_by_size(files, limit, oversize_alone):
    """Runs of consecutive files, each archive at most limit bytes; with oversize_alone a larger
    file gets an archive of its own instead of being refused."""
    runs, run, run_bytes = [], [], END_RECORD.size
    for game_file in files:
        needed = game_file.archive_bytes_bound()
        if run and (run_bytes + needed > limit or len(run) == MAX_MEMBERS):
            runs.append(run)
            run, run_bytes = [], END_RECORD.size
        if run_bytes + needed > limit and not oversize_alone:
            raise ReleaseError(f"{game_file.path} ({game_file.size} bytes) does not fit in an archive "
                               f"of {limit // MIB} MiB")
        run.append(game_file)
        run_bytes += needed
    runs.append(run)
    return runs


def check_describable(runs):
    """Refuses, before anything is written, archives whose members the launcher could not address."""
    for number, run in enumerate(runs, 1):
        if len(run) > MAX_MEMBERS:
            raise ReleaseError(f"archive {number} would hold {len(run)} files, more than {MAX_MEMBERS}; "
                               "use more archives")
        last_data_offset_bound = sum(f.local_bytes_bound() for f in run) - run[-1].size
        if last_data_offset_bound >= SIGNED_32_LIMIT:
            raise ReleaseError(f"archive {number} could reach 2 GiB before its last file; use more archives")


class Digests:
    """The MD5 and SHA-256 the launcher checks and the CRC-32 that zip readers check, over the same bytes."""

    def __init__(self):
        self.md5 = hashlib.md5()
        self.sha256 = hashlib.sha256()
        self.crc = 0
        self.size = 0

    def update(self, chunk):
        self.md5.update(chunk)
        self.sha256.update(chunk)
        self.crc = zlib.crc32(chunk, self.crc)
        self.size += len(chunk)
        return chunk


def looks_incompressible(source, size):
    """True when samples spread over the file do not shrink: such data (already compressed
    textures, sounds, videos) is stored without deflating it all first."""
    if size <= SAMPLE_COUNT * SAMPLE_SIZE:
        return False
    samples = []
    for k in range(SAMPLE_COUNT):
        source.seek(k * (size // SAMPLE_COUNT))
        samples.append(source.read(SAMPLE_SIZE))
    source.seek(0)
    sampled = b"".join(samples)
    return len(zlib.compress(sampled, wbits=-zlib.MAX_WBITS)) >= len(sampled)


def dos_date_time(mtime):
    year, month, day, hour, minute, second = time.localtime(mtime)[:6]
    if year < 1980:
        return 0, 1 << 5 | 1  # 1980-01-01 00:00, the earliest a zip can hold
    return hour << 11 | minute << 5 | second // 2, (year - 1980) << 9 | month << 5 | day


class ArchiveWriter:
    """Writes one zip archive member by member, remembering where each member's data lies."""

    def __init__(self, path, name):
        self.out = open(path, "w+b")
        self.name = name
        self.members = []

    def add(self, game_file, stored=False):
        name = game_file.encoded_name()
        header_offset = self.out.tell()
        self.out.write(bytes(LOCAL_HEADER.size) + name)
        data_offset = self.out.tell()
        with open(game_file.path, "rb") as source:
            compressed, digests = self._write_data(source, game_file.size, data_offset, stored)
        if digests.size != game_file.size:
            raise ReleaseError(f"{game_file.path} changed while it was being packed")
        end = self.out.tell()
        member = Member(game_file, self.name, header_offset, data_offset, end - data_offset,
                        compressed, digests.crc, digests.md5.hexdigest(), digests.sha256.hexdigest())
        self.out.seek(header_offset)
        self.out.write(self._local_header(member))
        self.out.seek(end)
        self.members.append(member)

    def _write_data(self, source, size, data_offset, stored):
        """Deflated data, or the file as it is when deflating does not shrink it or stored is asked
        for. An empty file is deflated all the same, since the launcher takes no member of 0 bytes."""
        digests = Digests()
        chunks = iter(lambda: digests.update(source.read(CHUNK)), b"")
        if not stored and not looks_incompressible(source, size):
            deflater = zlib.compressobj(zlib.Z_DEFAULT_COMPRESSION, zlib.DEFLATED, -zlib.MAX_WBITS)
            written = sum(self._write(deflater.compress(chunk)) for chunk in chunks)
            written += self._write(deflater.flush())
            if written < size or size == 0:
                return True, digests
            self._rewind(data_offset)
            source.seek(0)
            chunks = iter(lambda: source.read(CHUNK), b"")
        for chunk in chunks:
            self._write(chunk)
        return False, digests

    def _write(self, data):
        self.out.write(data)
        return len(data)

    def _rewind(self, offset):
        self.out.seek(offset)
        self.out.truncate()

    @staticmethod
    def _fields(member):
        game_file = member.game_file
        flags = 0 if game_file.name.isascii() else UTF8_NAME_FLAG
        method = zipfile.ZIP_DEFLATED if member.compressed else zipfile.ZIP_STORED
        version_needed = 20 if member.compressed else 10
        dos_time, dos_date = dos_date_time(game_file.mtime)
        return (version_needed, flags, method, dos_time, dos_date, member.crc, member.compressed_size,
                game_file.size, len(game_file.encoded_name()))

    def _local_header(self, member):
        return LOCAL_HEADER.pack(LOCAL_SIGNATURE, *self._fields(member), 0)

    def close(self):
        directory_offset = self.out.tell()
        for member in self.members:
            game_file = member.game_file
            unix_mode = stat.S_IFREG | game_file.mode
            self.out.write(CENTRAL_HEADER.pack(CENTRAL_SIGNATURE, MADE_ON_UNIX, *self._fields(member),
                                               0, 0, 0, 0, unix_mode << 16, member.header_offset))
            self.out.write(game_file.encoded_name())
        directory_size = self.out.tell() - directory_offset
        count = len(self.members)
        self.out.write(END_RECORD.pack(END_SIGNATURE, 0, 0, count, count,
                                       directory_size, directory_offset, 0))
        self.out.close()


def verify_archive(path, members):
    """Reads the archive back with an independent reader and checks every recorded offset and size."""
    with zipfile.ZipFile(path) as archive, open(path, "rb") as raw:
        infos = {info.filename: info for info in archive.infolist()}
        for member in members:
            info = infos.get(member.game_file.name)
            if info is None:
                raise ReleaseError(f"{path}: {member.game_file.name} is missing when read back")
            raw.seek(info.header_offset)
            fields = LOCAL_HEADER.unpack(raw.read(LOCAL_HEADER.size))
            name_length, extra_length = fields[-2:]
            data_offset = info.header_offset + LOCAL_HEADER.size + name_length + extra_length
            expected = (member.offset, member.compressed_size, member.compressed)
            found = (data_offset, info.compress_size, info.compress_type == zipfile.ZIP_DEFLATED)
            if fields[0] != LOCAL_SIGNATURE or found != expected:
                raise ReleaseError(f"{path}: {member.game_file.name} reads back as {found}, "
                                   f"not as recorded {expected}")


def manifest_xml(members, version, rollback, patches):
    # The signature covers the version: a launcher takes a manifest only as the release it names, and
    # an older release than the installed one only when it is marked as a rollback. Older launchers
    # ignore these attributes.
    rollback_attribute = ' rollback="1"' if rollback else ""
    root = f"<files version={quoteattr(version)}{rollback_attribute}>"
    lines = ['<?xml version="1.0" encoding="UTF-8"?>', root]
    for member in members:
        attributes = {
            "name": member.game_file.name.replace("/", "\\"),
            "source_zip": member.archive,
            "checksum": member.checksum,
            "permission": format(member.game_file.mode, "o"),
            "offset": str(member.offset),
            "compressed_size": str(member.compressed_size),
            "compressed": "true" if member.compressed else "false",
            # Lets the launcher stop inflating a member at its size; older ones ignore it.
            "size": str(member.game_file.size),
            # Binds the bytes to a signed manifest where MD5 collisions are cheap; older launchers ignore it.
            "sha256": member.sha256,
        }
        text = " ".join(f"{key}={quoteattr(value)}" for key, value in attributes.items())
        # Children of a record: launchers that know nothing of patches skip them.
        children = [patch_xml(patch) for patch in patches.get(member.game_file.name, [])]
        lines.append(f"  <file {text}>{''.join(children)}</file>" if children else f"  <file {text}/>")
    lines.append("</files>\n")
    return "\n".join(lines).encode("utf-8")


def patch_xml(patch):
    attributes = {
        "from": patch.base_checksum,
        "source_zip": patch.member.archive,
        "offset": str(patch.member.offset),
        "compressed_size": str(patch.member.compressed_size),
        "format": "zstd-frames",
        "segment": str(PATCH_SEGMENT),
    }
    return "<patch " + " ".join(f"{key}={quoteattr(value)}" for key, value in attributes.items()) + "/>"


def version_key(version):
    """Versions compare number by number, as the launcher compares them."""
    return tuple(int(number) for number in re.findall(r"\d+", version))


def previous_releases(out_dir, version, count):
    """The manifests of the count newest releases in out_dir older than version, newest first."""
    older = []
    for manifest in out_dir.glob("*.xml.gz"):
        other = manifest.name.removesuffix(".xml.gz")
        if SAFE_NAME.match(other) and version_key(other) < version_key(version):
            older.append((version_key(other), manifest))
    return [manifest for _, manifest in sorted(older, reverse=True)[:count]]


def read_records(manifest):
    """name -> the record's attributes, of a release's manifest."""
    root = ElementTree.fromstring(gzip.decompress(manifest.read_bytes()))
    return {record.get("name").replace("\\", "/"): record.attrib for record in root.iter("file")}


def extract_file(out_dir, record, path):
    """Writes an older release's file from its archive to path; False when its bytes do not match its MD5."""
    with open(out_dir / record["source_zip"].replace("\\", "/"), "rb") as archive:
        archive.seek(int(record["offset"]))
        data = archive.read(int(record["compressed_size"]))
    if record["compressed"] == "true":
        data = zlib.decompress(data, wbits=-zlib.MAX_WBITS)
    path.write_bytes(data)
    return hashlib.md5(data).hexdigest() == record["checksum"].lower()


@dataclass
class Patch:
    base_checksum: str
    game_file: GameFile
    member: Member = None


def find_patch_tool(args):
    """The tool that makes patches, or None (with a warning) when none was asked for by option."""
    candidates = [args.patch_tool] if args.patch_tool else [
        Path(__file__).resolve().parent.parent / "build" / "src" / PATCH_TOOL, shutil.which(PATCH_TOOL)]
    for candidate in candidates:
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    if args.patch_tool or args.patch_from is not None:
        raise ReleaseError(f"no patch tool {args.patch_tool or PATCH_TOOL} (build it, or give --patch-tool)")
    print(f"make_release: warning: no {PATCH_TOOL} found; the release has no patches", file=sys.stderr)
    return None


def make_patches(members, args, work_dir):
    """Patches of the new files against those of the previous releases, by the file they are for; a
    base shared by several releases gets one patch."""
    count = DEFAULT_PATCH_FROM if args.patch_from is None else args.patch_from
    releases = previous_releases(args.out_dir, args.version, count)
    tool = find_patch_tool(args) if releases else None
    if tool is None:
        return {}
    old_records = [read_records(manifest) for manifest in releases]
    patches = {}
    numbers = itertools.count()
    for member in members:
        if member.compressed_size <= MIN_PATCHED_MEMBER:
            continue
        name = member.game_file.name
        bases = {records[name]["checksum"].lower(): records[name] for records in old_records
                 if name in records and records[name]["checksum"].lower() != member.checksum}
        for record in bases.values():
            patch = make_patch(tool, args.out_dir, record, member, work_dir / f"patch-{next(numbers)}")
            if patch is not None:
                patches.setdefault(name, []).append(patch)
    return patches


def make_patch(tool, out_dir, record, member, patch_path):
    """The patch of member's file against the older release's file of record, when it is worth keeping."""
    base = patch_path.with_name("base")
    name = member.game_file.name
    try:
        extracted = extract_file(out_dir, record, base)
    except (OSError, ValueError, KeyError, zlib.error):
        extracted = False
    if not extracted:
        print(f"make_release: warning: {name} of an older release cannot be read or does not match its "
              "checksum; no patch from it", file=sys.stderr)
        return None
    made = subprocess.run([tool, "make", base, member.game_file.path, patch_path], stdout=subprocess.DEVNULL)
    if made.returncode != 0 or patch_path.stat().st_size >= member.compressed_size * MAX_PATCH_SHARE:
        patch_path.unlink(missing_ok=True)
        return None
    checksum = record["checksum"].lower()
    patch_file = GameFile(patch_path, f"{name}.{checksum}", patch_path.stat().st_size, 0o644, time.time())
    return Patch(checksum, patch_file)


def write_patch_archives(patches, out_dir, version):
    """Stores the patches in archives of their own, where the launcher reads them as byte ranges."""
    listed = [patch for file_patches in patches.values() for patch in file_patches]
    if not listed:
        return 0
    runs = split_by_size([patch.game_file for patch in listed], DEFAULT_ARCHIVE_MIB * MIB, oversize_alone=True)
    check_describable(runs)
    members = write_archives(runs, out_dir, version, patch_archive_name, stored=True)
    for patch, member in zip(listed, members):
        patch.member = member
    return len(runs)


def write_atomically(path, data):
    """Replaces path at once, so that the server never hands out a half-written file."""
    temporary = path.with_name(path.name + ".tmp")
    temporary.write_bytes(data)
    os.replace(temporary, path)


def load_signing_key(path):
    """The private key that make_signing_key.py wrote: the standard base64 of a 32-byte Ed25519 seed."""
    try:
        from nacl.signing import SigningKey
    except ImportError:
        raise ReleaseError("--sign-key needs PyNaCl (Debian package python3-nacl)") from None
    try:
        seed = base64.b64decode(path.read_text().strip(), validate=True)
    except (OSError, ValueError) as error:
        raise ReleaseError(f"cannot read the signing key {path}: {error}") from None
    if len(seed) != 32:
        raise ReleaseError(f"{path} holds no signing key of make_signing_key.py")
    return SigningKey(seed)


def launcher_signed_prefix(launcher_version):
    """What the launcher's version signature covers ahead of the build's bytes."""
    return f"velorian-launcher {launcher_version}\n".encode()


def write_launcher(path, build, launcher_version, signing_key):
    """The build and, with a key, two signatures: of its bytes (".sig", for launchers before the version
    was signed) and of its version followed by its bytes (".version.sig"), so that an old build cannot
    be served as a newer version."""
    if signing_key is not None:
        signature = signing_key.sign(launcher_signed_prefix(launcher_version) + build).signature
        write_atomically(path.with_name(path.name + ".version.sig"), base64.b64encode(signature) + b"\n")
    write_signed(path, build, signing_key)


def write_signed(path, data, signing_key):
    """Writes data, and before it, when there is a key, its detached signature beside it (path + ".sig",
    the standard base64 of the Ed25519 signature of exactly these bytes), so that a launcher that
    finds the file finds its signature too."""
    if signing_key is not None:
        signature = base64.b64encode(signing_key.sign(data).signature) + b"\n"
        write_atomically(path.with_name(path.name + ".sig"), signature)
    write_atomically(path, data)


def launcher_path(args, launcher_version):
    """Where the launcher build goes; a version published before must not change under launchers that
    are fetching it."""
    path = args.out_dir / f"launcher.{args.language}.{launcher_version}.exe"
    if path.exists() and path.read_bytes() != args.launcher.read_bytes():
        raise ReleaseError(f"{path} holds another launcher build; give a new --launcher-version")
    return path


def archive_name(version, number):
    # Flat in OUT_DIR: the launcher would turn a "/" in an archive name into a backslash.
    return f"{version}-{number:03d}.zip"


def patch_archive_name(version, number):
    return f"{version}-p{number:03d}.zip"


def write_archives(runs, out_dir, version, naming=archive_name, stored=False):
    members = []
    for number, run in enumerate(runs, 1):
        name = naming(version, number)
        path = out_dir / name
        temporary = path.with_name(name + ".tmp")
        try:
            writer = ArchiveWriter(temporary, name)
            for game_file in run:
                writer.add(game_file, stored)
            writer.close()
            verify_archive(temporary, writer.members)
        except BaseException:
            temporary.unlink(missing_ok=True)
            raise
        os.replace(temporary, path)
        members.extend(writer.members)
    return members


def default_launcher_version():
    header = Path(__file__).resolve().parent.parent / "src" / "app" / "Version.h"
    try:
        found = re.search(r'LAUNCHER_VERSION\[\]\s*=\s*"([^"]+)"', header.read_text(encoding="utf-8"))
    except OSError:
        found = None
    if not found:
        raise ReleaseError(f"no LAUNCHER_VERSION in {header}; give --launcher-version")
    return found.group(1)


def plan_archives(files, args):
    if args.archives is not None:
        runs = split_evenly(files, args.archives)
    elif args.archive_size is not None:
        runs = split_by_size(files, args.archive_size * MIB, oversize_alone=False)
    else:
        runs = split_by_size(files, DEFAULT_ARCHIVE_MIB * MIB, oversize_alone=True)
    check_describable(runs)
    return runs


def check_arguments(args):
    game_dir, out_dir = args.game_dir.resolve(), args.out_dir.resolve()
    if not game_dir.is_dir():
        raise ReleaseError(f"{args.game_dir} is not a folder")
    if out_dir == game_dir or game_dir in out_dir.parents:
        raise ReleaseError("OUT_DIR must lie outside GAME_DIR, or the release would pack itself")
    for what, value in (("VERSION", args.version), ("language code", args.language)):
        if not SAFE_NAME.match(value):
            raise ReleaseError(f"{what} {value!r} must be letters, digits, '.', '_' or '-', "
                               "starting with a letter or digit")
    if args.version in RESERVED_VERSIONS:
        raise ReleaseError(f"VERSION {args.version!r} has a special meaning for the launcher")
    if (args.out_dir / f"{args.version}.xml.gz").exists():
        raise ReleaseError(f"{args.out_dir} already holds release {args.version}; a published release must "
                           "not change under running launchers: choose a new VERSION")
    if args.launcher_version is not None and not re.fullmatch(r"\d+(\.\d+)*", args.launcher_version):
        raise ReleaseError("--launcher-version must be numbers joined by '.', e.g. 3.3.17")
    if args.archives is not None and args.archives < 1:
        raise ReleaseError("--archives must be at least 1")
    if args.archive_size is not None and not 1 <= args.archive_size <= SIGNED_32_LIMIT // MIB:
        raise ReleaseError(f"--archive-size must lie between 1 and {SIGNED_32_LIMIT // MIB} MiB")
    if args.patch_from is not None and args.patch_from < 0:
        raise ReleaseError("--patch-from must be 0 or more")


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description="Packs GAME_DIR as release VERSION into OUT_DIR, a folder that any static web server "
                    "(nginx, a CDN) serves as the launcher's update server. OUT_DIR receives the zip "
                    "archives VERSION-001.zip, VERSION-002.zip, ..., the manifest VERSION.xml.gz, the "
                    "answer version-win-CODE.php naming VERSION as the current release, and "
                    "launcherVersion.inf naming the current launcher (a newer one than the players' is "
                    "fetched from launcher.CODE.X.Y.Z.exe, which --launcher writes or you place beside "
                    "it). With --sign-key the manifest and the launcher build are signed. Several releases "
                    "can share OUT_DIR; the version answer is written last, so launchers switch to a "
                    "release only when it is complete.",
        epilog="Example: %(prog)s game/ /srv/www/update/ 1.4.0, then serve /srv/www/update/ and set the "
               "launcher's baseUrl to its address. Refused: a VERSION that OUT_DIR already holds (a "
               "published release must not change), symbolic links and special files in GAME_DIR, and "
               "files of 2 GiB or more.")
    parser.add_argument("game_dir", metavar="GAME_DIR", type=Path,
                        help="the game folder as players should have it")
    parser.add_argument("out_dir", metavar="OUT_DIR", type=Path, help="the folder the update server serves")
    parser.add_argument("version", metavar="VERSION", help="the release's version, e.g. 1.4.0")
    parser.add_argument("--language", default="pt", metavar="CODE",
                        help="language code of the launchers this release is for (default: pt)")
    split = parser.add_mutually_exclusive_group()
    split.add_argument("--archives", type=int, metavar="N",
                       help="split the files into N archives of about equal size")
    split.add_argument("--archive-size", type=int, metavar="MIB",
                       help="make no archive larger than MIB mebibytes (default: about %d, a larger file "
                            "getting an archive of its own)" % DEFAULT_ARCHIVE_MIB)
    parser.add_argument("--launcher-version", metavar="X.Y.Z",
                        help="the current launcher version (default: the one this source tree builds)")
    parser.add_argument("--launcher", type=Path, metavar="EXE",
                        help="publish this launcher build as launcher.CODE.X.Y.Z.exe for that version")
    parser.add_argument("--sign-key", type=Path, metavar="KEYFILE",
                        help="sign the manifest and the launcher build with this private key (made by "
                             "make_signing_key.py; needs python3-nacl): each gets a .sig file beside it, "
                             "which launchers configured with the public key require")
    parser.add_argument("--allow-rollback", action="store_true",
                        help="let launchers that have a newer release installed take this one (signed in "
                             "the manifest, so that only the publisher can allow it)")
    parser.add_argument("--patch-from", type=int, metavar="N",
                        help="add patches against the files of the N newest older releases in OUT_DIR "
                             "(default: %d; 0: none), in archives VERSION-p001.zip, ...; a patch is kept only "
                             "when it is under half its file's archive bytes" % DEFAULT_PATCH_FROM)
    parser.add_argument("--patch-tool", type=Path, metavar="PATH",
                        help="the %s program that makes the patches (default: the build's, in "
                             "build/src/, or the one on PATH)" % PATCH_TOOL)
    return parser.parse_args(argv)


def counted(number, noun):
    return f"{number} {noun}" if number == 1 else f"{number} {noun}s"


def make_release(args):
    check_arguments(args)
    launcher_version = args.launcher_version or default_launcher_version()
    signing_key = load_signing_key(args.sign_key) if args.sign_key else None
    launcher = launcher_path(args, launcher_version) if args.launcher else None
    files = collect_files(args.game_dir)
    runs = plan_archives(files, args)
    args.out_dir.mkdir(parents=True, exist_ok=True)
    members = write_archives(runs, args.out_dir, args.version)
    with tempfile.TemporaryDirectory() as work_dir:
        patches = make_patches(members, args, Path(work_dir))
        patch_archives = write_patch_archives(patches, args.out_dir, args.version)
    manifest = gzip.compress(manifest_xml(members, args.version, args.allow_rollback, patches), mtime=0)
    write_signed(args.out_dir / f"{args.version}.xml.gz", manifest, signing_key)
    if launcher is not None:
        write_launcher(launcher, args.launcher.read_bytes(), launcher_version, signing_key)
    write_atomically(args.out_dir / "launcherVersion.inf", f"{launcher_version}\n".encode())
    # Last: from this moment launchers fetch the new release.
    write_atomically(args.out_dir / f"version-win-{args.language}.php", f"{args.version}\n".encode())
    file_bytes = sum(f.size for f in files)
    archive_bytes = sum((args.out_dir / archive_name(args.version, n)).stat().st_size
                        for n in range(1, len(runs) + 1))
    patch_count = sum(len(file_patches) for file_patches in patches.values())
    print(f"Release {args.version}: {counted(len(files), 'file')} in {counted(len(runs), 'archive')}, "
          f"{file_bytes} bytes of files in {archive_bytes} bytes of archives, "
          f"{patch_count} patches in {counted(patch_archives, 'patch archive')}, in {args.out_dir}")


def main(argv=None):
    args = parse_arguments(argv)
    try:
        make_release(args)
    except (ReleaseError, OSError) as error:
        print(f"make_release: error: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
