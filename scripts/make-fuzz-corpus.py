#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/*_fuzz.cpp) into
OUT/<target>/: real 7z archives made with 7zz from small trees (several
coders, attributes, symbolic links, empty folders), bundles built from them
the way launchers carry them, and typical .ini, properties, version and
argument texts. Nothing here is committed; scripts/fuzz.sh runs this on
every call.

usage: make-fuzz-corpus.py OUT
"""

import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

FOOTER_MAGIC = b"kvi"
SEVEN_ZIP = shutil.which("7zz") or shutil.which("7z")

# The coders the launcher's decoder knows, as 7zz switches.
ARCHIVE_METHODS = {
    "copy": ["-m0=Copy"],
    "lzma": ["-m0=LZMA:d=64k"],
    "lzma2": ["-m0=LZMA2:d=64k"],
    "bcj-lzma": ["-m0=BCJ", "-m1=LZMA:d=64k"],
    "bcj2": ["-m0=BCJ2", "-m1=LZMA:d=64k", "-m2=LZMA:d=64k", "-m3=LZMA:d=64k",
             "-mb0s0:1", "-mb0s1:2", "-mb0s2:3"],
    "ppmd": ["-m0=PPMd"],
    "delta": ["-m0=Delta:4", "-m1=LZMA:d=64k"],
    "nonsolid": ["-m0=LZMA:d=64k", "-ms=off"],
    "plain-header": ["-m0=LZMA:d=64k", "-mhc=off"],
}


def write(folder, name, data):
    folder.mkdir(parents=True, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    (folder / name).write_bytes(data)


def make_tree(root):
    """A small installer-like tree: nested files, an executable, an empty
    file, an empty folder, a symbolic link."""
    bin_dir = root / "maintenance" / "kvInstaller" / "x86-linux2"
    bin_dir.mkdir(parents=True)
    program = bin_dir / "kvInstaller"
    program.write_text("#!/bin/sh\nexit 0\n")
    program.chmod(0o755)
    (bin_dir / ".eclipseproduct").write_text("version=2.7.3.271REL03_201509181225\n")
    (bin_dir / "plugins").mkdir()
    (bin_dir / "plugins" / "a.jar").write_bytes(bytes(range(256)) * 8)
    (bin_dir / "empty.txt").write_bytes(b"")
    (root / "empty-folder").mkdir()
    os.symlink("kvInstaller", bin_dir / "link-to-installer")
    return root


def make_archives(work):
    """{name: 7z bytes} for every method, plus a few special archives."""
    archives = {}
    tree = make_tree(work / "tree")
    for name, switches in ARCHIVE_METHODS.items():
        out = work / f"{name}.7z"
        done = subprocess.run([SEVEN_ZIP, "a", "-bd", "-y", *switches, str(out), "."],
                              cwd=tree, capture_output=True)
        if done.returncode == 0:
            archives[name] = out.read_bytes()
    # Symbolic links stored as links.
    out = work / "links.7z"
    if subprocess.run([SEVEN_ZIP, "a", "-bd", "-y", "-snl", "-m0=Copy", str(out), "."],
                      cwd=tree, capture_output=True).returncode == 0:
        archives["links"] = out.read_bytes()
    # A file that unpacks to much more than it packs to.
    zeros = work / "zeros"
    zeros.mkdir()
    (zeros / "zeros.bin").write_bytes(bytes(1 << 20))
    out = work / "zeros.7z"
    if subprocess.run([SEVEN_ZIP, "a", "-bd", "-y", "-m0=LZMA:d=1m", str(out), "."],
                      cwd=zeros, capture_output=True).returncode == 0:
        archives["zeros"] = out.read_bytes()
    return archives


def block(data, tag, start, pad=True):
    if pad and len(data) % 8:
        data += bytes(8 - len(data) % 8)
    return data + struct.pack("<I", start) + FOOTER_MAGIC + tag


def bundle(image, blocks, pad=True):
    out = bytearray(image)
    for tag, data in blocks:
        out += block(data, tag.encode(), len(out), pad)
    return bytes(out)


def bundles(archives):
    image = b"\x7fELF" + bytes(60)
    small = archives.get("copy", b"")
    lzma = archives.get("lzma", small)
    props = b"name=Korvane Installer\nid=com.korvane.p2.installer.ui.product\n" \
            b"version=2.7.3.271REL03_201509181225\n"
    png = b"\x89PNG\r\n\x1a\n" + bytes(24)
    shipped = [("l", png), ("v", props), ("i", lzma), ("j", small),
               ("r", b"KVINSTALLER_2_7_1_REL03\0"), ("a", b"-silent"), ("a", b"-vmargs")]
    out = {
        "shipped": bundle(image, shipped),
        "unpadded": bundle(image, shipped, pad=False),
        "payload": bundle(image, shipped + [("p", archives.get("lzma2", small))]),
        "args-only": bundle(image, [("a", b"-installPath"), ("a", b"/opt/kv")]),
        "empty-block": bundle(image, [("v", b""), ("x", b"unknown tag")]),
        "no-bundle": image,
    }
    signed = out["shipped"] + bytes(16)  # a certificate table after the bundle
    out["signed-16"] = bytes([16]) + signed[1:]
    return out


def text_seeds():
    ini = {
        "plain": "-silent\n-installPath\n${iniloc}/kv\n",
        "comments": "# comment\n\n   -vmargs  \r\n-Xmx512m\r\n\t#x\n",
        "no-newline": "-yum",
        "iniloc-twice": "${iniloc}${iniloc}\n",
    }
    properties = {
        "locations": "com.korvane = /opt/Korvane\nother=  /home/u/kv  \n",
        "comments": "# c\n=novalue\nkey\nk = \nk2=v=w\r\n",
    }
    versions = {
        "typical": "2.7.3.271REL03_201509181225\n2.7.3.271REL03_201509181224\n2.2.0.x\n",
        "signs": "-1.+2. 3.q\n2147483648.0.0.a\n1.2\n",
        "spaces": " 2 . 7.3.a b\n2.7.3.\xff\n\n",
    }
    def argv(control, *texts):
        return "\0".join([control, *texts])
    args = {
        "silent": argv("\x00\x00\x00", "-silent", "-installPath", "/opt/kv"),
        "vmargs": argv("\x01\x01\x08", "-vmargs", "-Xmx1g", "-VMARGS", "-ini", "x.ini", "-patch"),
        "yum": argv("\x00\x00\x20", "-yum", "--installroot=/opt/kv", "-global", "-download"),
        "windows": argv("\x02\x00\x07", "-WinConsole", "--installPath", "C:\\kv", "-sdf", "a"),
        "validate": argv("\x00\x00\x40", "-validate", "-patch", "-productid", "com.kv: Folder"),
    }
    return ini, properties, versions, args


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = Path(sys.argv[1])
    if SEVEN_ZIP is None:
        sys.exit("make-fuzz-corpus.py: 7zz not found (Debian package 7zip)")
    with tempfile.TemporaryDirectory(prefix="kv-corpus-") as tmp:
        archives = make_archives(Path(tmp))
    for name, data in archives.items():
        write(out / "extract_fuzz", name, data)
        write(out / "extract_fuzz", name + "-padded", data + bytes(8 - len(data) % 8))
    for name, data in bundles(archives).items():
        write(out / "bundle_walk_fuzz", name, data)
    ini, properties, versions, args = text_seeds()
    for folder, seeds in (("ini_file_fuzz", ini), ("version_fuzz", versions),
                          ("arg_assembly_fuzz", args)):
        for name, text in seeds.items():
            write(out / folder, name, text)
    for name, text in properties.items():
        # The first byte picks the bucket count and the key case rule.
        write(out / "properties_map_fuzz", name, "\x10" + text)
        write(out / "properties_map_fuzz", name + "-nocase", "\x50" + text)
    for folder in sorted(out.iterdir()):
        print(f"{folder.name}: {len(list(folder.iterdir()))} seeds")


if __name__ == "__main__":
    main()
