#!/usr/bin/env python3
"""Rewrites ZIP archives in place so that they depend only on what they hold: the same
entries in the same order, each dated SOURCE_DATE_EPOCH (or EPOCH), with its Unix
permissions and no extra fields (the archiver's access, change and owner fields differ
from one build to the next).
    normalise-zip.py EPOCH ARCHIVE..."""
import os
import sys
import time
import zipfile


def normalise(path, epoch):
    date = time.gmtime(max(epoch, 315532800))[:6]  # a ZIP date starts in 1980
    with zipfile.ZipFile(path) as source:
        entries = [(info, source.read(info)) for info in source.infolist()]
    temporary = path + ".normalising"
    with zipfile.ZipFile(temporary, "w") as target:
        for info, data in entries:
            clean = zipfile.ZipInfo(info.filename, date_time=date)
            clean.create_system = 3  # Unix, so that the permissions below are read
            clean.external_attr = info.external_attr & 0xFFFF0000
            clean.compress_type = zipfile.ZIP_STORED if info.is_dir() else zipfile.ZIP_DEFLATED
            target.writestr(clean, data, compresslevel=9)
    os.replace(temporary, path)


def main():
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", sys.argv[1]))
    for path in sys.argv[2:]:
        normalise(path, epoch)


if __name__ == "__main__":
    main()
