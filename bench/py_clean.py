#!/usr/bin/env python3
"""The same cleaning in a few lines of Python's zipfile, for comparison: test every
entry of every archive (CRC), set damaged archives aside as NAME.bad, and rewrite an
archive that holds purge-list entries, copying the kept entries' compressed bytes.

    py_clean.py TREE PURGE_TXT      (PURGE_TXT: lower-case Like-free patterns)
"""
import fnmatch
import os
import shutil
import struct
import sys
import zlib
import zipfile


def rewrite_without(path, zf, drop):
    tmp = path + ".tmp"
    with open(path, "rb") as src, open(tmp, "wb") as dst:
        out = zipfile.ZipFile(dst, "w")
        for info in zf.infolist():
            if info in drop:
                continue
            src.seek(info.header_offset)
            head = src.read(30)
            name_len, extra_len = struct.unpack("<HH", head[26:30])
            raw = head + src.read(name_len + extra_len + info.compress_size)
            info.header_offset = dst.tell()
            dst.write(raw)
            out.filelist.append(info)
            out.NameToInfo[info.filename] = info
        out.start_dir = dst.tell()
        out._didModify = True
        out.close()
    shutil.copymode(path, tmp)
    os.replace(tmp, path)


def main():
    tree, purge = sys.argv[1], sys.argv[2]
    patterns = [line.strip() for line in open(purge) if line.strip()]
    for folder, dirs, files in os.walk(tree):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in files:
            if not name.lower().endswith(".zip"):
                continue
            path = os.path.join(folder, name)
            try:
                with zipfile.ZipFile(path) as zf:
                    if zf.testzip() is not None:
                        raise zipfile.BadZipFile
                    drop = [i for i in zf.infolist()
                            if any(fnmatch.fnmatchcase(i.filename.lower(), p) for p in patterns)]
                    if drop:
                        rewrite_without(path, zf, drop)
            except (zipfile.BadZipFile, zlib.error, OSError, EOFError, ValueError, NotImplementedError):
                os.replace(path, path + ".bad")


if __name__ == "__main__":
    main()
