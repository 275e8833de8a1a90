#!/usr/bin/python3
"""Makes the publisher's key pair for signed releases.

The private key goes into KEYFILE, readable by its owner only, for
make_release.py --sign-key. The public key is printed as the line that
launcher.conf takes, after which launchers install and run only what that key
signed.
"""

import argparse
import base64
import os
import sys


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", 1)[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("key_file", metavar="KEYFILE", help="where the private key goes; must not exist yet")
    args = parser.parse_args(argv)
    try:
        from nacl.signing import SigningKey
    except ImportError:
        print("make_signing_key: error: needs PyNaCl (Debian package python3-nacl)", file=sys.stderr)
        return 1
    key = SigningKey.generate()
    try:
        # Never over an existing key: releases signed with it could no longer be told from forgeries.
        descriptor = os.open(args.key_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except OSError as error:
        print(f"make_signing_key: error: {error}", file=sys.stderr)
        return 1
    os.fchmod(descriptor, 0o600)
    with os.fdopen(descriptor, "w") as out:
        out.write(base64.b64encode(bytes(key)).decode() + "\n")
    print("releaseKey=" + base64.b64encode(bytes(key.verify_key)).decode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
