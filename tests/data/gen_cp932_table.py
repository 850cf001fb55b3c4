#!/usr/bin/env python3
"""Writes cp932_table.txt, the reference that tst_cp932 checks common/cp932.cpp against.

Why: cp932.cpp builds its tables from glibc iconv at run time. To catch a wrong
converter, a wrong table or a slip in the table building, the test compares the
result with a second, independent reading of code page 932: Python's "cp932"
codec (CPython's own CJK codec tables, which share no code with glibc).

How: every single byte, and every pair of a byte that does not stand alone
followed by any byte, is decoded with Python's codec in strict mode. Each code
that decodes to exactly one character is written as one line

    <code> <UTF-16 value>

in upper-case hex; the code has 2 digits for a single byte and 4 for a pair.
Codes that are missing do not decode. The output is sorted and deterministic,
so re-running the script must leave the checked-in file unchanged:

    python3 tests/data/gen_cp932_table.py > tests/data/cp932_table.txt

Only decoding is taken from Python. Python's encoder picks other codes than
Windows for characters that have more than one code (it prefers the 0xED/0xEE
rows over 0xFA-0xFC), so the test derives the expected encoding from this table
for characters with a single code, and checks the others by Windows' rule.
"""

import sys


def decode_one(data):
    """The single character `data` decodes to, or None."""
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError:
        return None
    return text if len(text) == 1 else None


def main():
    out = sys.stdout
    out.write("# Code page 932 read by Python %d.%d's cp932 codec; written by gen_cp932_table.py.\n"
              % sys.version_info[:2])
    out.write("# <code> <UTF-16 value>, hex. Codes not listed do not decode.\n")
    leads = []
    for byte in range(256):
        char = decode_one(bytes([byte]))
        if char is None:
            leads.append(byte)
        else:
            out.write("%02X %04X\n" % (byte, ord(char)))
    for lead in leads:
        for trail in range(256):
            char = decode_one(bytes([lead, trail]))
            if char is not None:
                if ord(char) > 0xFFFF:
                    sys.exit("unexpected character outside the BMP at %02X%02X" % (lead, trail))
                out.write("%02X%02X %04X\n" % (lead, trail, ord(char)))


if __name__ == "__main__":
    main()
