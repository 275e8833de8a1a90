#!/usr/bin/env python3
"""What the release builder publishes beside the game's files, which the launcher's own tests install."""

import base64
import gzip
import stat
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

TOOLS = Path(__file__).resolve().parents[2] / "tools"
VERSION = "2.7.1"


class ReleaseBuilderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(cls.temp.cleanup)
        root = Path(cls.temp.name)
        (root / "game").mkdir()
        (root / "game" / "game.exe").write_bytes(b"MZ" + b"\x90" * 5000)
        cls.out = root / "server"
        cls.key = root / "signing.key"
        made = subprocess.run([sys.executable, TOOLS / "make_signing_key.py", cls.key], check=True,
                              capture_output=True, text=True)
        cls.public_key = made.stdout.strip().removeprefix("releaseKey=")
        (root / "launcher").write_bytes(b"launcher build")
        subprocess.run([sys.executable, TOOLS / "make_release.py", root / "game", cls.out, VERSION,
                        "--sign-key", cls.key, "--launcher", root / "launcher", "--launcher-version", "3.3.17"],
                       check=True, stdout=subprocess.DEVNULL)
        cls.rollback_out = root / "rollback"
        subprocess.run([sys.executable, TOOLS / "make_release.py", root / "game", cls.rollback_out, "2.0.0",
                        "--allow-rollback"], check=True, stdout=subprocess.DEVNULL)

    # The launcher build's signature covers the bytes served, under the public key as printed (the
    # launcher's tests check the manifest's); the private key is the owner's alone.
    def test_launcher_signature_verifies_with_the_printed_key(self):
        from nacl.signing import VerifyKey
        verify_key = VerifyKey(base64.b64decode(self.public_key, validate=True))
        name = "launcher.pt.3.3.17.exe"
        signature = (self.out / (name + ".sig")).read_text().removesuffix("\n")
        verify_key.verify((self.out / name).read_bytes(), base64.b64decode(signature, validate=True))
        # The launcher refuses a build whose signature does not cover its version too.
        signature = (self.out / (name + ".version.sig")).read_text().removesuffix("\n")
        verify_key.verify(b"velorian-launcher 3.3.17\n" + (self.out / name).read_bytes(),
                          base64.b64decode(signature, validate=True))
        self.assertEqual(stat.S_IMODE(self.key.stat().st_mode), 0o600)

    # A rollback is allowed in the signed manifest, and only when asked for.
    def test_manifest_marks_a_rollback_only_when_asked(self):
        for manifest, root in ((self.out / f"{VERSION}.xml.gz", f'<files version="{VERSION}">'),
                               (self.rollback_out / "2.0.0.xml.gz", '<files version="2.0.0" rollback="1">')):
            self.assertIn(root, gzip.decompress(manifest.read_bytes()).decode())

if __name__ == "__main__":
    unittest.main()
