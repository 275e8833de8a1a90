#!/usr/bin/env python3
"""The release builder, checked the way the launcher reads a release: byte ranges out of archives."""

import gzip
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib
from pathlib import Path

MAKE_RELEASE = Path(__file__).resolve().parents[2] / "tools" / "make_release.py"
VERSION = "2.7.1"

GAME_FILES = {
    "game.exe": b"MZ" + b"\x90" * 5000,
    "data/empty.dat": b"",
    "data/random.bin": os.urandom(1_500_000),
    "data/small-random.bin": os.urandom(300),
    "data/maps/level1.map": b"tile grass\n" * 20000,
    "data/maps/level2.map": b"tile water\n" * 300,
    "data/zeta.txt": b"last of data\n" * 40,
    "música/canção & <coro>.ogg": "letra\n".encode() * 50,
}


class ReleaseBuilderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        root = Path(cls.temp.name)
        cls.game = root / "game"
        for name, content in GAME_FILES.items():
            path = cls.game / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(content)
        cls.out = root / "server"
        subprocess.run([sys.executable, MAKE_RELEASE, cls.game, cls.out, VERSION, "--archives", "3"],
                       check=True, stdout=subprocess.DEVNULL)
        with gzip.open(cls.out / f"{VERSION}.xml.gz") as manifest:
            root_element = ElementTree.parse(manifest).getroot()
        cls.records = [element.attrib for element in root_element]
        cls.by_name = {record["name"].replace("\\", "/"): record for record in cls.records}

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def archive_range(self, record):
        with open(self.out / record["source_zip"], "rb") as archive:
            archive.seek(int(record["offset"]))
            return archive.read(int(record["compressed_size"]))

    def test_manifest_lists_every_file_once(self):
        self.assertEqual(sorted(self.by_name), sorted(GAME_FILES))
        self.assertEqual(len(self.records), len(GAME_FILES))

    def test_archives_are_valid_zips_with_the_manifest_names(self):
        archives = sorted(self.out.glob("*.zip"))
        self.assertEqual([path.name for path in archives], [f"{VERSION}-00{n}.zip" for n in (1, 2, 3)])
        members = []
        for path in archives:
            with zipfile.ZipFile(path) as archive:
                self.assertIsNone(archive.testzip())
                members += archive.namelist()
        self.assertEqual(sorted(members), sorted(GAME_FILES))

    def test_each_record_reads_back_as_its_file(self):
        for name, record in self.by_name.items():
            with self.subTest(name=name):
                data = self.archive_range(record)
                if record["compressed"] == "true":
                    data = zlib.decompress(data, -zlib.MAX_WBITS)
                self.assertEqual(data, GAME_FILES[name])
                self.assertEqual(record["checksum"], hashlib.md5(GAME_FILES[name]).hexdigest())
                mode = os.stat(self.game / name).st_mode & 0o7777
                self.assertEqual(record["permission"], format(mode, "o"))
                self.assertGreater(int(record["offset"]), 0)

    def test_data_is_deflated_only_where_it_shrinks(self):
        stored = {name for name, record in self.by_name.items() if record["compressed"] == "false"}
        self.assertEqual(stored, {"data/random.bin", "data/small-random.bin"})
        self.assertGreater(int(self.by_name["data/empty.dat"]["compressed_size"]), 0)

    def test_files_of_a_folder_follow_each_other_in_name_order(self):
        folders = [name.rpartition("/")[0] for name in self.by_name]
        runs = [folder for i, folder in enumerate(folders) if i == 0 or folders[i - 1] != folder]
        self.assertEqual(len(runs), len(set(runs)), folders)
        for folder in set(folders):
            names = [name for name in self.by_name if name.rpartition("/")[0] == folder]
            self.assertEqual(names, sorted(names))
        positions = [(record["source_zip"], int(record["offset"])) for record in self.records]
        self.assertEqual(positions, sorted(positions))

    def test_version_answer_names_the_release(self):
        answer = (self.out / "version-win-pt.php").read_text()
        self.assertEqual(answer.splitlines()[0], VERSION)
        self.assertRegex((self.out / "launcherVersion.inf").read_text(), r"\A\d+(\.\d+)+\n\Z")


if __name__ == "__main__":
    unittest.main()
