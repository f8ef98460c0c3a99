#!/usr/bin/env python3
"""Sizes the benchmark's padded installers.

Usage:
  installer_padding.py pad BASE_EXE OUT_FILE TOTAL_BYTES
      Writes OUT_FILE, an RCDATA payload that brings an installer built from
      BASE_EXE plus this payload (and a signature) close to TOTAL_BYTES.
  installer_padding.py check FILE MIN_BYTES MAX_BYTES
      Fails unless FILE's size lies in MIN_BYTES..MAX_BYTES.

The payload is pseudo-random (fixed seed), so that nothing on the way can
shrink it and every build makes the same bytes.
"""
import os
import random
import struct
import sys

# Room for the resource directory entry, section alignment and the
# Authenticode signature that are added after the payload.
MARGIN_BYTES = 16 * 1024
BLOCK_BYTES = 1024 * 1024


def pad(base_exe, out_file, total):
    payload = total - os.path.getsize(base_exe) - MARGIN_BYTES
    if payload <= 0:
        sys.exit("installer_padding: %s is already larger than %d bytes" % (base_exe, total))
    block = bytearray(random.Random(20240501).randbytes(BLOCK_BYTES))
    temporary = out_file + ".partial"
    with open(temporary, "wb") as out:
        written = 0
        index = 0
        while written < payload:
            # A distinct prefix per block, so that no two blocks are equal.
            struct.pack_into("<Q", block, 0, index)
            count = min(BLOCK_BYTES, payload - written)
            out.write(block[:count])
            written += count
            index += 1
    os.replace(temporary, out_file)


def check(path, low, high):
    size = os.path.getsize(path)
    if not low <= size <= high:
        sys.exit("installer_padding: %s has %d bytes, expected %d..%d" % (path, size, low, high))
    print("%s: %d bytes" % (path, size))


def main(argv):
    if len(argv) == 5 and argv[1] == "pad":
        pad(argv[2], argv[3], int(argv[4]))
    elif len(argv) == 5 and argv[1] == "check":
        check(argv[2], int(argv[3]), int(argv[4]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
