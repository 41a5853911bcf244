"""Zips a folder the same way every time, at one given time.

    python3 scripts/lib/make_zip.py SECONDS ARCHIVE.zip FOLDER

Entries are sorted, files only, mode 644, without owners. A zip entry's own
date counts in steps of two seconds; each entry also carries the time to the
second in an extended time stamp, which unzip and Windows' archivers read.
"""
import os
import struct
import sys
import time
import zipfile

EXTENDED_TIMESTAMP = 0x5455
MODIFIED_ONLY = 1


def main(seconds, archive, folder):
    parent = os.path.dirname(os.path.abspath(folder))
    names = sorted(
        os.path.relpath(os.path.join(top, name), parent)
        for top, _, files in os.walk(folder)
        for name in files
    )
    with zipfile.ZipFile(archive, "w") as z:
        for name in names:
            entry = zipfile.ZipInfo(name, time.gmtime(seconds)[:6])
            entry.create_system = 3  # Unix, so that the mode below counts
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.extra = struct.pack("<HHBI", EXTENDED_TIMESTAMP, 5, MODIFIED_ONLY, seconds)
            with open(os.path.join(parent, name), "rb") as f:
                z.writestr(entry, f.read())


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2], sys.argv[3])
