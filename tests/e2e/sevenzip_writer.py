"""A small 7z writer for crafted test archives: stored (copy method) data,
with full control over names (duplicates, any length), which entries share
a solid folder, attributes (Unix modes, symbolic links) and CRCs, plus
headers that declare many nameless empty files.

    write_7z(path, [Entry("a", b"x"), Entry("b", b"y", new_folder=True)])

Entries are listed in archive order. An entry with data goes into the
current folder, or starts a new one with new_folder=True (the first always
does); an entry without data is an empty file (or a directory).
"""

import lzma
import struct
import zlib
from dataclasses import dataclass
from pathlib import Path

UNIX_EXTENSION = 0x8000
FILE_ATTRIBUTE_DIRECTORY = 0x10
FILE_ATTRIBUTE_ARCHIVE = 0x20


@dataclass
class Entry:
    name: str
    data: bytes = b""
    new_folder: bool = False
    mode: int = None        # Unix st_mode stored in the attributes' high bits
    is_dir: bool = False
    bad_crc: bool = False   # store a CRC that does not match the data
    stream: bool = False    # without data: a zero-length stream of the current folder


def link(name, target, new_folder=False):
    """A symbolic-link entry as `7zz a -snl` stores one."""
    return Entry(name, target.encode(), new_folder=new_folder, mode=0o120777)


def number(value):
    """A 7z NUMBER: n leading one bits in the first byte, n bytes follow."""
    for n in range(8):
        if value < 1 << (7 * (n + 1)):
            first = ((0xFF << (8 - n)) & 0xFF) | (value >> (8 * n))
            return bytes([first]) + (value & ((1 << (8 * n)) - 1)).to_bytes(n, "little")
    return b"\xff" + value.to_bytes(8, "little")


def bits(flags):
    out = bytearray((len(flags) + 7) // 8)
    for i, flag in enumerate(flags):
        if flag:
            out[i // 8] |= 0x80 >> (i % 8)
    return bytes(out)


def _property(kind, body):
    return bytes([kind]) + number(len(body)) + body


def _files_info(entries):
    n = len(entries)
    empty = [not e.data and not e.stream for e in entries]
    out = bytearray(b"\x05" + number(n))
    if any(empty):
        out += _property(0x0E, bits(empty))
        out += _property(0x0F, bits([not e.is_dir for e in entries if not e.data]))
    names = b"".join(e.name.encode("utf-16-le") + b"\0\0" for e in entries)
    out += _property(0x11, b"\0" + names)
    attributes = []
    for e in entries:
        value = FILE_ATTRIBUTE_DIRECTORY if e.is_dir else FILE_ATTRIBUTE_ARCHIVE
        if e.mode is not None:
            value |= UNIX_EXTENSION | (e.mode << 16)
        attributes.append(struct.pack("<I", value))
    out += _property(0x15, b"\x01\x00" + b"".join(attributes))
    return bytes(out + b"\x00")


def lzma2_chunks(data):
    """`data` as LZMA2 chunks that start a fresh dictionary, without the end mark."""
    return lzma.compress(data, format=lzma.FORMAT_RAW,
                         filters=[{"id": lzma.FILTER_LZMA2, "dict_size": 1 << 20}])[:-1]


def _packed(files, lzma2):
    if not lzma2:
        return b"".join(e.data for e in files)
    return b"".join(lzma2_chunks(e.data) for e in files if e.data) + b"\x00"


def _streams_info(folders, lzma2):
    """Pack info, one copy-coder (or LZMA2) folder per list of data entries,
    and the substreams (sizes and CRCs of the files in each folder)."""
    sizes = [sum(len(e.data) for e in files) for files in folders]
    out = bytearray(b"\x04")
    out += b"\x06" + number(0) + number(len(folders)) + b"\x09"
    out += b"".join(number(len(_packed(files, lzma2))) for files in folders) + b"\x00"
    out += b"\x07\x0b" + number(len(folders)) + b"\x00"
    # One coder: id 00 (copy), or id 21 (LZMA2) with a 1 MiB dictionary.
    out += b"".join(b"\x01\x21\x21\x01\x10" if lzma2 else b"\x01\x01\x00" for _ in folders)
    out += b"\x0c" + b"".join(number(s) for s in sizes) + b"\x00"
    out += b"\x08\x0d" + b"".join(number(len(files)) for files in folders)
    out += b"\x09" + b"".join(number(len(e.data)) for files in folders for e in files[:-1])
    crcs = []
    for files in folders:
        for e in files:
            crc = zlib.crc32(e.data)
            crcs.append(struct.pack("<I", crc ^ 1 if e.bad_crc else crc))
    out += b"\x0a\x01" + b"".join(crcs) + b"\x00"
    return bytes(out + b"\x00")


def _archive(packed, header):
    start = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    return (b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(start)) + start
            + packed + header)


def write_7z(path, entries, lzma2=False):
    """lzma2: each entry's bytes are compressed on their own (lzma2_chunks),
    so that a test can damage one entry's chunks."""
    folders = []
    for e in entries:
        if e.data or e.stream:
            if e.new_folder or not folders:
                folders.append([])
            folders[-1].append(e)
    header = b"\x01"
    if folders:
        header += _streams_info(folders, lzma2)
    header += _files_info(entries) + b"\x00"
    packed = b"".join(_packed(files, lzma2) for files in folders)
    Path(path).write_bytes(_archive(packed, header))
    return Path(path)


def write_empty_files_7z(path, count):
    """An archive whose header declares `count` nameless empty files: two
    bit vectors of count/8 bytes each, nothing else."""
    ones = b"\xff" * (count // 8)
    header = (b"\x01\x05" + number(count) + _property(0x0E, ones) + _property(0x0F, ones)
              + b"\x00\x00")
    Path(path).write_bytes(_archive(b"", header))
    return Path(path)
