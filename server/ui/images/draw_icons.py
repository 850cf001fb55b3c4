#!/usr/bin/env python3
"""Draws the toolbar, folder-button and window pictures as 16 x 16 PNGs.

Each picture is pixel art: one character per pixel, '.' transparent, the
other characters colours from PALETTE. Run from any folder; the PNGs are
written next to this script.
"""
import os
import struct
import zlib

PALETTE = {
    'k': (0x20, 0x20, 0x20),  # outline
    'y': (0xF4, 0xC4, 0x30),  # folder
    'o': (0xC8, 0x90, 0x10),  # folder shade
    'b': (0x30, 0x60, 0xC0),  # disk, help
    'l': (0xA0, 0xC0, 0xF0),  # light blue
    'w': (0xFF, 0xFF, 0xFF),  # paper
    'g': (0x90, 0x90, 0x90),  # grey lines
    'G': (0x20, 0x80, 0x40),  # spreadsheet green
    'm': (0xC8, 0xE8, 0xD0),  # light green
    'r': (0xC0, 0x30, 0x30),  # red tick
}

PICTURES = {
    'open': [
        '................',
        '................',
        '.kkkk...........',
        'kooook..........',
        'koooookkkkkk....',
        'kooooooooook....',
        'kookkkkkkkkkkkkk',
        'kokyyyyyyyyyyyk.',
        'kokyyyyyyyyyyyk.',
        'kkyyyyyyyyyyyk..',
        'kkyyyyyyyyyyyk..',
        'kyyyyyyyyyyyk...',
        'kkkkkkkkkkkkk...',
        '................',
        '................',
        '................',
    ],
    'save': [
        '................',
        '.kkkkkkkkkkkkk..',
        '.kbbwwwwwwwwbbk.',
        '.kbbwwwwwwwwbbk.',
        '.kbbwggggggwbbk.',
        '.kbbwwwwwwwwbbk.',
        '.kbbwggggggwbbk.',
        '.kbbbbbbbbbbbbk.',
        '.kbbbbbbbbbbbbk.',
        '.kbbllllllllbbk.',
        '.kbbllkkkllllbk.',
        '.kbbllkkklllbbk.',
        '.kbbllkkklllbbk.',
        '.kkkkkkkkkkkkkk.',
        '................',
        '................',
    ],
    'copy': [
        'kkkkkkk.........',
        'kwwwwwkk........',
        'kwgggwkwk.......',
        'kwwwwwkkkkkkk...',
        'kwggggkwwwwwkk..',
        'kwwwwwkwgggwkwk.',
        'kwggggkwwwwwkkkk',
        'kwwwwwkwggggwwwk',
        'kwggggkwwwwwwwwk',
        'kwwwwwkwggggggwk',
        'kkkkkkkwwwwwwwwk',
        '.......wggggggwk',
        '.......kwwwwwwwk',
        '.......kkkkkkkkk',
        '................',
        '................',
    ],
    'help': [
        '................',
        '.....kkkkkk.....',
        '...kkbbbbbbkk...',
        '..kbbbwwwwbbbk..',
        '..kbbwwbbwwbbk..',
        '.kbbbbbbbwwbbbk.',
        '.kbbbbbbwwbbbbk.',
        '.kbbbbbwwbbbbbk.',
        '.kbbbbbwwbbbbbk.',
        '.kbbbbbbbbbbbbk.',
        '..kbbbbwwbbbbk..',
        '..kbbbbwwbbbbk..',
        '...kkbbbbbbkk...',
        '.....kkkkkk.....',
        '................',
        '................',
    ],
    'spreadsheet': [
        '................',
        'kkkkkkkkkkkkkkkk',
        'kGGGGGGGGGGGGGGk',
        'kGkkkkkkkkkkkkGk',
        'kGkmmkwwwkwwwkGk',
        'kGkkkkkkkkkkkkGk',
        'kGkmmkwwwkwwwkGk',
        'kGkkkkkkkkkkkkGk',
        'kGkmmkwwwkwwwkGk',
        'kGkkkkkkkkkkkkGk',
        'kGkmmkwwwkwwwkGk',
        'kGkkkkkkkkkkkkGk',
        'kGGGGGGGGGGGGGGk',
        'kkkkkkkkkkkkkkkk',
        '................',
        '................',
    ],
    'folder': [
        '................',
        '................',
        '.kkkkk..........',
        'kyyyyyk.........',
        'kyyyyyykkkkkkkk.',
        'kooooooooooooook',
        'kyyyyyyyyyyyyyyk',
        'kyyyyyyyyyyyyyyk',
        'kyyyyyyyyyyyyyyk',
        'kyyyyyyyyyyyyyyk',
        'kyyyyyyyyyyyyyyk',
        'kyyyyyyyyyyyyyyk',
        'kkkkkkkkkkkkkkkk',
        '................',
        '................',
        '................',
    ],
    'tavrelle': [
        '..kkkkkkkkkkk...',
        '..kwwwwwwwwwk...',
        '..kwggggggwwk...',
        '..kwwwwwwwwwk...',
        '..kwgggwwwwrk...',
        '..kwwwwwwwrrk...',
        '..kwggggwrrwk...',
        '..kwwrwwrrwwk...',
        '..kwwrrrrwwwk...',
        '..kwwwrrwwwwk...',
        '..kwgggggggwk...',
        '..kwwwwwwwwwk...',
        '..kwggggggwwk...',
        '..kwwwwwwwwwk...',
        '..kkkkkkkkkkk...',
        '................',
    ],
}


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def png(rows):
    raw = b''
    for row in rows:
        assert len(row) == 16, row
        raw += b'\0'
        for ch in row:
            raw += bytes(PALETTE[ch]) + b'\xff' if ch != '.' else b'\0\0\0\0'
    header = struct.pack('>IIBBBBB', 16, len(rows), 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    folder = os.path.dirname(os.path.abspath(__file__))
    for name, rows in PICTURES.items():
        with open(os.path.join(folder, name + '.png'), 'wb') as f:
            f.write(png(rows))


if __name__ == '__main__':
    main()
