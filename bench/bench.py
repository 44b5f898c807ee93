#!/usr/bin/env python3
"""Extraction benchmark: our extraction against 7zz and bsdtar on one payload
archived several ways, with the decode-only and write-only limits and a
scaling run over subsets. Writes bench/results/latest.md (and .json)."""
import argparse
import filecmp
import json
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import payload as payload_mod  # noqa: E402

REPO = Path(__file__).resolve().parents[1]
KINDS = [
    ("default", []),
    ("lzma-nofilter", ["-m0=LZMA", "-mf=off"]),
    ("bcj2", ["-m0=BCJ2", "-m1=LZMA:d25", "-m2=LZMA:d19", "-m3=LZMA:d19",
              "-mb0:1", "-mb0s1:2", "-mb0s2:3"]),
    ("non-solid", ["-ms=off"]),
    ("mx1", ["-mx=1"]),
    ("mkbundle", None),  # made by mkbundle itself
]
VERSION = "2.7.3.271REL03_201509181225"


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def timed(cmd, workdir, stdout=subprocess.DEVNULL):
    """Runs cmd under /usr/bin/time: (wall s, user+sys s, peak RSS MB)."""
    stats = workdir / "time.txt"
    start = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-o", str(stats), "-f", "%e %U %S %M"] + cmd,
                          stdout=stdout, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), done.returncode,
                                                   done.stderr.decode(errors="replace")))
    fields = stats.read_text().split()[-4:]
    return wall, float(fields[1]) + float(fields[2]), int(fields[3]) / 1024.0


def make_installer(root):
    folder = root / "maintenance" / "kvInstaller" / "x86-linux2"
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "kvInstaller").write_text("#!/bin/sh\nexit 0\n")
    (folder / "kvInstaller").chmod(0o755)
    (folder / ".eclipseproduct").write_text("version=%s\n" % VERSION)
    return root


def jre_block(bundle, mkbundle):
    """(offset, length) of the j block of a bundle."""
    out = subprocess.run([str(mkbundle), "--list", str(bundle)], check=True,
                         capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if parts and parts[0] == "j":
            return int(parts[1]), int(parts[2])
    raise RuntimeError("no j block in %s" % bundle)


def same_tree(a, b):
    cmp = filecmp.dircmp(a, b)
    stack = [cmp]
    while stack:
        c = stack.pop()
        # 7zz also makes empty folders; we make only the parents of files.
        if c.right_only or any(not os.path.isdir(os.path.join(c.left, n)) for n in c.left_only):
            return False
        if c.diff_files or c.funny_files:
            return False
        _, mismatch, errors = filecmp.cmpfiles(c.left, c.right, c.common_files, shallow=False)
        if mismatch or errors:
            return False
        stack.extend(c.subdirs.values())
    return True


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--build", default=str(REPO / "build" / "stream" / "bin"),
                    help="folder with kvextract, mkbundle and setup_linux64")
    ap.add_argument("--work", default=str(REPO / "bench" / "results" / "work"))
    ap.add_argument("--out", default=str(REPO / "bench" / "results"))
    ap.add_argument("--jdk", default=payload_mod.JDK, help="runtime tree ('' for none)")
    ap.add_argument("--small-files", type=int, default=2955)
    ap.add_argument("--small-mb", type=float, default=43)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--kinds", default=",".join(k for k, _ in KINDS))
    ap.add_argument("--subsets", default="64,128,256", help="MiB; '' for none")
    args = ap.parse_args()

    build = Path(args.build)
    kvextract, mkbundle, launcher = build / "kvextract", build / "mkbundle", build / "setup_linux64"
    work, out_dir = Path(args.work), Path(args.out)
    work.mkdir(parents=True, exist_ok=True)
    out_dir.mkdir(parents=True, exist_ok=True)

    # The payload, rebuilt only when its recipe changes.
    recipe = "%s|%d|%s" % (args.jdk, args.small_files, args.small_mb)
    tree = work / "payload"
    stamp = work / "payload.recipe"
    if not stamp.exists() or stamp.read_text() != recipe or not tree.exists():
        print("building payload...", flush=True)
        payload_mod.build(str(tree), args.jdk or None, args.small_files,
                          int(args.small_mb * 1024 * 1024))
        stamp.write_text(recipe)
        for old in work.glob("*.7z"):
            old.unlink()
        for old in work.glob("*.bundle"):
            old.unlink()
    tree_bytes = payload_mod.tree_bytes(str(tree))
    installer = make_installer(work / "installer")

    kinds = [k for k in KINDS if k[0] in args.kinds.split(",")]
    archives = {}
    for kind, switches in kinds:
        archive = work / (kind + ".7z")
        bundle = work / (kind + ".bundle")
        if archive.exists() and not bundle.exists():
            run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher),
                 "--version", VERSION, "--installer", str(installer), "--jre", str(archive)],
                stdout=subprocess.DEVNULL)
        if not archive.exists() or not bundle.exists():
            print("archiving %s..." % kind, flush=True)
            if switches is None:
                run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher),
                     "--version", VERSION, "--installer", str(installer), "--jre", str(tree)],
                    stdout=subprocess.DEVNULL)
                offset, length = jre_block(bundle, mkbundle)
                with open(bundle, "rb") as f:
                    f.seek(offset)
                    archive.write_bytes(f.read(length))
            else:
                tmp = work / (kind + ".tmp.7z")
                if tmp.exists():
                    tmp.unlink()
                run(["7zz", "a", "-bd", "-bso0", "-bsp0", *switches, str(tmp), "."],
                    cwd=str(tree))
                tmp.rename(archive)
                run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher),
                     "--version", VERSION, "--installer", str(installer), "--jre", str(archive)],
                    stdout=subprocess.DEVNULL)
            bundle.chmod(0o755)
        archives[kind] = (archive, bundle)

    target = work / "out"

    def fresh():
        if target.exists():
            shutil.rmtree(target)

    def tools(archive, bundle):
        return [
            ("ours (launcher)", [str(bundle), "-silent", "-installPath", str(target),
                                 "-showargsandexit"]),
            ("ours (kvextract)", [str(kvextract), str(archive), str(target)]),
            ("7zz x", ["7zz", "x", "-bd", "-bso0", "-y", "-o" + str(target), str(archive)]),
            ("7zz x -mmt=1", ["7zz", "x", "-bd", "-bso0", "-y", "-mmt=1",
                              "-o" + str(target), str(archive)]),
            ("bsdtar -xf", ["sh", "-c", 'mkdir -p "$1" && bsdtar -xf "$2" -C "$1"', "sh",
                            str(target), str(archive)]),
            ("limit: 7zz t -mmt=1", ["7zz", "t", "-bd", "-bso0", "-mmt=1", str(archive)]),
            ("limit: cp -r", ["cp", "-r", str(tree), str(target)]),
        ]

    results = {}
    for kind, _ in kinds:
        archive, bundle = archives[kind]
        # Byte for byte against 7zz, once.
        fresh()
        run([str(kvextract), str(archive), str(target / "ours")], stdout=subprocess.DEVNULL)
        run(["7zz", "x", "-bd", "-bso0", "-y", "-o" + str(target / "7zz"), str(archive)],
            stdout=subprocess.DEVNULL)
        identical = same_tree(str(target / "7zz"), str(target / "ours"))
        rows = {name: [] for name, _ in tools(archive, bundle)}
        for _ in range(args.runs):  # interleaved
            for name, cmd in tools(archive, bundle):
                fresh()
                rows[name].append(timed(cmd, work))
        fresh()
        results[kind] = {"archive_mb": archive.stat().st_size / 1e6, "identical": identical,
                         "rows": rows}
        print("done %s" % kind, flush=True)

    scaling = []
    subsets = [int(s) for s in args.subsets.split(",") if s]
    for mib in subsets:
        sub = work / ("subset-%d" % mib)
        archive = work / ("subset-%d.7z" % mib)
        if not archive.exists():
            payload_mod.subset(str(tree), str(sub), mib * 1024 * 1024)
            bundle = work / ("subset-%d.bundle" % mib)
            run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher), "--version",
                 VERSION, "--installer", str(installer), "--jre", str(sub)],
                stdout=subprocess.DEVNULL)
            offset, length = jre_block(bundle, mkbundle)
            with open(bundle, "rb") as f:
                f.seek(offset)
                archive.write_bytes(f.read(length))
            bundle.unlink()
            shutil.rmtree(sub)
        runs = []
        for _ in range(args.runs):
            fresh()
            runs.append(timed([str(kvextract), str(archive), str(target)], work))
        fresh()
        scaling.append((mib, runs))

    report = render(results, scaling, tree_bytes)
    (out_dir / "latest.md").write_text(report)
    (out_dir / "latest.json").write_text(json.dumps({"results": results, "scaling": scaling},
                                                    indent=1))
    print(report)


def render(results, scaling, tree_bytes):
    lines = ["Payload: %.0f MB. Wall time min / median of the runs, user+sys and peak RSS"
             " of the median run; ratio = our median wall / `7zz x` median wall." % (tree_bytes / 1e6),
             "",
             "| archive | size MB | same as 7zz | tool | wall min s | wall median s |"
             " user+sys s | peak RSS MB | ratio to 7zz x |",
             "|---|---|---|---|---|---|---|---|---|"]
    for kind, data in results.items():
        rows = data["rows"]
        base = statistics.median(r[0] for r in rows["7zz x"])
        for name, runs in rows.items():
            walls = sorted(r[0] for r in runs)
            median = statistics.median(walls)
            mid = sorted(runs, key=lambda r: r[0])[len(runs) // 2]
            ratio = "%.2f" % (median / base) if name.startswith("ours") else ""
            lines.append("| %s | %.1f | %s | %s | %.2f | %.2f | %.2f | %.0f | %s |" % (
                kind, data["archive_mb"], "yes" if data["identical"] else "NO", name,
                walls[0], median, mid[1], mid[2], ratio))
    if scaling:
        lines += ["", "Scaling (ours, kvextract, mkbundle's default settings):", "",
                  "| subset MiB | wall median s | s per 100 MiB | peak RSS MB |", "|---|---|---|---|"]
        for mib, runs in scaling:
            median = statistics.median(r[0] for r in runs)
            rss = max(r[2] for r in runs)
            lines.append("| %d | %.2f | %.2f | %.0f |" % (mib, median, median * 100 / mib, rss))
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
