#!/usr/bin/env python3
"""Packs a portable copy of Merovane: the program, its language files and the
marker that keeps its settings beside it (portable.ini). Nothing the user
owns goes in (no Config\\Option.ini). Entries carry a fixed date, so the same
files always give the same bytes.

    make_portable_zip.py BIN_FOLDER TARGET.zip"""

import pathlib
import sys
import zipfile

DATE = (2026, 1, 1, 0, 0, 0)


def pack(folder: pathlib.Path, target: pathlib.Path) -> None:
    files = [(folder / "Merovane.exe", "Merovane.exe")]
    files += [(p, "Language/" + p.name) for p in sorted((folder / "Language").glob("*.ini"))]
    target.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for path, name in files:
            info = zipfile.ZipInfo(name, date_time=DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, path.read_bytes())
        archive.writestr(zipfile.ZipInfo("portable.ini", date_time=DATE), b"")


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    pack(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
