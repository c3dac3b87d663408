#!/usr/bin/env python3
"""Tests every archive of a tree in one Python process with zipfile's testzip() and
cleans nothing: the in-process Python yardstick for the test that every run does.
Prints how many archives failed the test.

    py_test.py TREE
"""
import os
import sys
import zlib
import zipfile


def main():
    damaged = tested = 0
    for folder, dirs, files in os.walk(sys.argv[1]):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in files:
            if not name.lower().endswith(".zip"):
                continue
            tested += 1
            try:
                with zipfile.ZipFile(os.path.join(folder, name)) as zf:
                    if zf.testzip() is not None:
                        damaged += 1
            except (zipfile.BadZipFile, zlib.error, OSError, EOFError, ValueError,
                    NotImplementedError):
                damaged += 1
    print(f"tested {tested} damaged {damaged}")


if __name__ == "__main__":
    main()
