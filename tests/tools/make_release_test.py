#!/usr/bin/env python3
"""The release builder, checked the way the launcher reads a release: byte ranges out of archives."""

import base64
import gzip
import hashlib
import os
import stat
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zlib
from pathlib import Path

TOOLS = Path(__file__).resolve().parents[2] / "tools"
VERSION = "2.7.1"

GAME_FILES = {
    "game.exe": b"MZ" + b"\x90" * 5000,
    "data/empty.dat": b"",
    "data/random.bin": os.urandom(1_500_000),
    "data/small-random.bin": os.urandom(300),
    "data/maps/level1.map": b"tile grass\n" * 20000,
    "música/canção & <coro>.ogg": "letra\n".encode() * 50,
}


class ReleaseBuilderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.temp.cleanup)
        cls.game = Path(cls.temp.name) / "game"
        for name, content in GAME_FILES.items():
            (cls.game / name).parent.mkdir(parents=True, exist_ok=True)
            (cls.game / name).write_bytes(content)
        cls.out = Path(cls.temp.name) / "server"
        cls.key = Path(cls.temp.name) / "signing.key"
        made = subprocess.run([sys.executable, TOOLS / "make_signing_key.py", cls.key], check=True,
                              capture_output=True, text=True)
        cls.public_key = made.stdout.strip().removeprefix("releaseKey=")
        launcher = Path(cls.temp.name) / "launcher"
        launcher.write_bytes(b"launcher build")
        subprocess.run([sys.executable, TOOLS / "make_release.py", cls.game, cls.out, VERSION, "--archives", "3",
                        "--sign-key", cls.key, "--launcher", launcher, "--launcher-version", "3.3.17"],
                       check=True, stdout=subprocess.DEVNULL)
        with gzip.open(cls.out / f"{VERSION}.xml.gz") as manifest:
            cls.records = [element.attrib for element in ElementTree.parse(manifest).getroot()]
        cls.by_name = {record["name"].replace("\\", "/"): record for record in cls.records}

    # Each file once, and its byte range (deflated only where that shrinks it)
    # reads back as the file, with its digest and mode.
    def test_each_record_reads_back_as_its_file(self):
        names = [record["name"].replace("\\", "/") for record in self.records]
        self.assertEqual(sorted(names), sorted(GAME_FILES))
        stored = {name for name, record in self.by_name.items() if record["compressed"] == "false"}
        self.assertEqual(stored, {"data/random.bin", "data/small-random.bin"})
        for name, record in self.by_name.items():
            with self.subTest(name=name):
                with open(self.out / record["source_zip"], "rb") as archive:
                    archive.seek(int(record["offset"]))
                    data = archive.read(int(record["compressed_size"]))
                if record["compressed"] == "true":
                    data = zlib.decompress(data, -zlib.MAX_WBITS)
                self.assertEqual(data, GAME_FILES[name])
                self.assertEqual(int(record["size"]), len(data))
                self.assertEqual(record["checksum"], hashlib.md5(GAME_FILES[name]).hexdigest())
                self.assertEqual(record["permission"], format(os.stat(self.game / name).st_mode & 0o7777, "o"))

    def test_version_answer_names_the_release(self):
        self.assertEqual((self.out / "version-win-pt.php").read_text().splitlines()[0], VERSION)
        self.assertEqual((self.out / "launcherVersion.inf").read_text(), "3.3.17\n")

    # Each signature covers the bytes served, under the public key as printed; the private key is
    # the owner's alone.
    def test_signatures_verify_with_the_printed_key(self):
        from nacl.signing import VerifyKey
        verify_key = VerifyKey(base64.b64decode(self.public_key, validate=True))
        for name in (f"{VERSION}.xml.gz", "launcher.pt.3.3.17.exe"):
            signature = (self.out / (name + ".sig")).read_text().removesuffix("\n")
            verify_key.verify((self.out / name).read_bytes(), base64.b64decode(signature, validate=True))
        self.assertEqual(stat.S_IMODE(self.key.stat().st_mode), 0o600)


if __name__ == "__main__":
    unittest.main()
