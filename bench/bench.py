#!/usr/bin/env python3
"""Extraction benchmark: our extraction against 7zz and bsdtar on one payload
archived several ways, with the decode-only and write-only limits, the
peers (makeself bundles, gzip and xz, with and without their checksum;
`tar -I zstd`) beside mkbundle's default, a scaling run over subsets and
the simulated scaling over processors (bench/simulate.py). Writes
bench/results/latest.md (and .json, and latest.svg: bundle size against
install time)."""
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
import simulate  # noqa: E402

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
# Peers, measured in the runs of mkbundle's default: (name, file, how made).
PEERS = [
    ("makeself gzip", "peer-gzip.run", ["makeself", "--gzip"]),
    ("makeself xz", "peer-xz.run", ["makeself", "--xz"]),
    ("tar -I zstd", "peer.tar.zst", None),
]
PEER_KIND = "mkbundle"


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


# On this kind of machine two effects of the system, not of the tools,
# made single runs vary by seconds: memory the virtual machine hands out
# for the first time costs a fault in its host (writing 1 GB into the page
# cache took 6 s from fresh memory and 0.2 s from memory used before), and
# ext4 without a journal skips inodes deleted in the last few minutes when
# it creates files, reading their inode blocks again for every new file.
# So before each timed run dirty data is synced and a ballast file of
# twice the payload is written and deleted (the run's page cache then comes
# from memory already used), and no extracted tree is deleted while runs
# are measured: each run extracts into a folder of its own, all deleted at
# the end (per kind, followed by a wait, when the disk is too small).
INODE_AGE_S = 370  # after a deletion: 60 s, 360 s while the inode block is dirty
DELETED_STAMP = "deleted-at"


def settle(work, ballast_bytes, inputs):
    """Brings the machine to the same state before every timed run."""
    os.sync()
    ballast = work / "ballast"
    chunk = b"\0" * (8 << 20)
    with open(ballast, "wb") as f:
        for _ in range(max(1, ballast_bytes // len(chunk))):
            f.write(chunk)
    ballast.unlink()
    for path in inputs:  # the archive is read from the page cache, as for 7zz
        with open(path, "rb") as f:
            while f.read(8 << 20):
                pass


def delete_outputs(outputs, work):
    if outputs.exists():
        shutil.rmtree(outputs)
        os.sync()
        (work / DELETED_STAMP).write_text("%f" % time.time())


def wait_for_deleted_inodes(work, age):
    stamp = work / DELETED_STAMP
    if not stamp.exists():
        return
    left = float(stamp.read_text()) + age - time.time()
    if left > 0:
        print("waiting %.0f s for deleted files to age..." % left, flush=True)
        time.sleep(left)


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
    ap.add_argument("--inode-age", type=float, default=INODE_AGE_S,
                    help="seconds to wait after deleting trees before measuring")
    ap.add_argument("--launcher", default="",
                    help="the setup_linux64 measured (default: the one in --build)")
    ap.add_argument("--compare-launcher", default="",
                    help="a second setup_linux64 (another build of it) measured beside the"
                         " first on the same archives, as 'ours (launcher, compared)'")
    ap.add_argument("--no-peers", action="store_true",
                    help="leave out makeself and tar -I zstd")
    ap.add_argument("--peers", default="",
                    help="only these peers, by name, comma-separated (e.g. 'tar -I zstd')")
    args = ap.parse_args()
    peers = [] if args.no_peers else [
        p for p in PEERS if not args.peers or p[0] in args.peers.split(",")]
    missing = [tool for tool in ("makeself", "zstd", "gnuplot", "taskset")
               if peers and shutil.which(tool) is None]
    if missing:
        sys.exit("bench.py: %s not installed (bench/run.sh installs them)" % ", ".join(missing))

    build = Path(args.build)
    kvextract, mkbundle = build / "kvextract", build / "mkbundle"
    launcher = Path(args.launcher) if args.launcher else build / "setup_linux64"
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

    def compared_bundle(kind, archive):
        if not args.compare_launcher:
            return None
        path = work / (kind + ".compared.bundle")
        run([str(mkbundle), "-o", str(path), "--launcher", args.compare_launcher,
             "--version", VERSION, "--name", "Bench", "--id", "bench",
             "--installer", str(installer), "--jre", str(archive)], stdout=subprocess.DEVNULL)
        path.chmod(0o755)
        return path
    archives = {}
    for kind, switches in kinds:
        archive = work / (kind + ".7z")
        bundle = work / (kind + ".bundle")
        # A bundle made with an older launcher would measure that launcher.
        if bundle.exists() and bundle.stat().st_mtime < launcher.stat().st_mtime:
            bundle.unlink()
        if archive.exists() and not bundle.exists():
            run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher),
                 "--version", VERSION, "--name", "Bench", "--id", "bench",
                 "--installer", str(installer), "--jre", str(archive)],
                stdout=subprocess.DEVNULL)
        if not archive.exists() or not bundle.exists():
            print("archiving %s..." % kind, flush=True)
            if switches is None:
                run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher),
                     "--version", VERSION, "--name", "Bench", "--id", "bench",
                     "--installer", str(installer), "--jre", str(tree)],
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
                     "--version", VERSION, "--name", "Bench", "--id", "bench",
                     "--installer", str(installer), "--jre", str(archive)],
                    stdout=subprocess.DEVNULL)
            bundle.chmod(0o755)
        archives[kind] = (archive, bundle, compared_bundle(kind, archive))

    peer_files = {}
    if PEER_KIND in archives:
        for name, file_name, maker in peers:
            path = work / file_name
            stamp_file = work / (file_name + ".recipe")
            if not path.exists() or not stamp_file.exists() or stamp_file.read_text() != recipe:
                print("making %s..." % name, flush=True)
                if path.exists():
                    path.unlink()
                if maker:
                    run(maker + ["--quiet", "--nox11", str(tree), str(path), "benchmark", "true"],
                        stdout=subprocess.DEVNULL)
                else:
                    run(["tar", "-I", "zstd", "-cf", str(path), "-C", str(tree), "."])
                stamp_file.write_text(recipe)
            peer_files[name] = path

    subsets = [int(s) for s in args.subsets.split(",") if s]
    for mib in subsets:  # made before any run: making them deletes trees
        sub = work / ("subset-%d" % mib)
        archive = work / ("subset-%d.7z" % mib)
        if not archive.exists():
            payload_mod.subset(str(tree), str(sub), mib * 1024 * 1024)
            bundle = work / ("subset-%d.bundle" % mib)
            run([str(mkbundle), "-o", str(bundle), "--launcher", str(launcher), "--version",
                 VERSION, "--name", "Bench", "--id", "bench", "--installer", str(installer),
                 "--jre", str(sub)],
                stdout=subprocess.DEVNULL)
            offset, length = jre_block(bundle, mkbundle)
            with open(bundle, "rb") as f:
                f.seek(offset)
                archive.write_bytes(f.read(length))
            bundle.unlink()
            shutil.rmtree(sub)
            (work / DELETED_STAMP).write_text("%f" % time.time())
    outputs = work / "out"
    delete_outputs(outputs, work)  # left by an interrupted run
    extracting = 6  # tools below that write a tree
    need = tree_bytes * (extracting * args.runs * len(kinds) + args.runs) + 2 * tree_bytes
    need += sum(int(s) << 20 for s in args.subsets.split(",") if s) * args.runs
    need += tree_bytes * 5 * args.runs if peer_files else 0  # makeself x 4, tar
    keep_all = shutil.disk_usage(str(work)).free > need + (2 << 30)
    counter = [0]

    def new_target(kind):
        counter[0] += 1
        return outputs / kind / ("%03d" % counter[0])

    def peer_tools(kind, target):
        if kind != PEER_KIND:
            return []
        rows = []
        for name, _, maker in peers:
            path = str(peer_files[name])
            if maker:
                run_it = [path, "--quiet", "--target", str(target), "--noexec"]
                rows.append((name, run_it, path))
                rows.append((name + ", SETUP_NOCHECK=1",
                             ["env", "SETUP_NOCHECK=1"] + run_it, path))
            else:
                rows.append((name + " -xf", ["sh", "-c", 'mkdir -p "$1" && tar -I zstd -xf "$2" -C "$1"',
                                             "sh", str(target), path], path))
        return rows

    def tools(archive, bundle, target, kind=None, compared=None):
        also = [("ours (launcher, compared)", [str(compared), "-silent", "-installPath",
                                               str(target), "-showargsandexit"])] if compared else []
        return [(name, cmd) for name, cmd, _ in peer_tools(kind, target)] + also + [
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
    ballast = 2 * tree_bytes
    for kind, _ in kinds:
        archive, bundle, compared = archives[kind]
        wait_for_deleted_inodes(work, args.inode_age)
        names = [name for name, _ in tools(archive, bundle, outputs, kind, compared)]
        sizes = {name: archive.stat().st_size / 1e6 for name in names}
        sizes["ours (launcher)"] = bundle.stat().st_size / 1e6
        if compared:
            sizes["ours (launcher, compared)"] = compared.stat().st_size / 1e6
        for name, _, path in peer_tools(kind, outputs):
            sizes[name] = Path(path).stat().st_size / 1e6
        rows = {name: [] for name in names}
        first = {}
        for _ in range(args.runs):  # interleaved
            for index, name in enumerate(names):
                target = new_target(kind)
                target.parent.mkdir(parents=True, exist_ok=True)
                cmd = tools(archive, bundle, target, kind, compared)[index][1]
                inputs = {n: p for n, _, p in peer_tools(kind, target)}
                inputs["ours (launcher)"], inputs["ours (launcher, compared)"] = bundle, compared
                source = inputs.get(name) or archive
                settle(work, ballast, [source])
                rows[name].append(timed(cmd, work))
                first.setdefault(name, target)
        # Byte for byte against 7zz.
        identical = same_tree(str(first["7zz x"]), str(first["ours (kvextract)"]))
        results[kind] = {"archive_mb": archive.stat().st_size / 1e6, "identical": identical,
                         "rows": rows, "sizes": sizes}
        if not keep_all:
            delete_outputs(outputs, work)
        print("done %s" % kind, flush=True)

    scaling = []
    for mib in subsets:
        archive = work / ("subset-%d.7z" % mib)
        wait_for_deleted_inodes(work, args.inode_age)
        runs = []
        for _ in range(args.runs):
            target = new_target("subset-%d" % mib)
            target.parent.mkdir(parents=True, exist_ok=True)
            settle(work, ballast, [archive])
            runs.append(timed([str(kvextract), str(archive), str(target)], work))
        if not keep_all:
            delete_outputs(outputs, work)
        scaling.append((mib, runs))
    delete_outputs(outputs, work)

    # The scaling we cannot run here, on mkbundle's default archive.
    simulation = None
    if "mkbundle" in archives:
        wait_for_deleted_inodes(work, args.inode_age)
        print("simulating...", flush=True)
        mkbundle_archive = archives["mkbundle"][0]
        log_text, measured = simulate.measure(
            kvextract, mkbundle_archive, work / "simulate", max(1, args.runs),
            lambda: settle(work, ballast, [mkbundle_archive]))
        tar = results.get(PEER_KIND, {}).get("rows", {}).get("tar -I zstd -xf")
        simulation = simulate.analyse(log_text, measured,
                                      tar_s=statistics.median(r[0] for r in tar) if tar else None)
        shutil.rmtree(work / "simulate", ignore_errors=True)
        (work / DELETED_STAMP).write_text("%f" % time.time())

    report = render(results, scaling, tree_bytes)
    if simulation:
        report += "\n" + simulate.render(simulation, "mkbundle's default archive")
    (out_dir / "latest.md").write_text(report)
    (out_dir / "latest.json").write_text(json.dumps(
        {"results": results, "scaling": scaling, "simulation": simulation}, indent=1))
    if peers:
        plot(results, simulation, out_dir / "latest.svg", work)
    print(report)


def plot(results, simulation, svg, work):
    """Bundle size against install time (median) of every tool and archive
    kind, with the simulated scaling of mkbundle's default on N processors."""
    data = work / "plot.dat"
    lines = []
    for kind, result in results.items():
        for name, runs in result["rows"].items():
            if name.startswith("limit:"):
                continue
            median = statistics.median(r[0] for r in runs)
            label = name if kind == PEER_KIND and not name.startswith(("ours", "7zz", "bsdtar")) \
                else "%s, %s" % (name, kind)
            lines.append('%.3f %.2f "%s"' % (median, result["sizes"][name], label))
    data.write_text("\n".join(lines) + "\n")
    script = [
        "set terminal svg size 1100,700 dynamic noenhanced",
        'set output "%s"' % svg,
        'set title "Install time and bundle size (median wall; simulated: ours on N processors)"',
        'set xlabel "install time, s"', 'set ylabel "bundle size, MB"',
        "set key outside right", "set grid",
    ]
    plots = ['"%s" using 1:2 with points pt 7 title "measured", '
             '"" using 1:2:3 with labels left offset 0.5,0 font ",8" notitle' % data]
    if simulation and "mkbundle" in results:
        sim = work / "plot-sim.dat"
        size = results["mkbundle"]["sizes"]["ours (launcher)"]
        sim.write_text("".join('%.3f %.2f "N=%d"\n' % (r["wall"], size, r["n"])
                               for r in simulation["rows"]))
        plots.append('"%s" using 1:2 with linespoints pt 6 title "ours, simulated on N '
                     'processors", "" using 1:2:3 with labels offset 0,1 font ",8" notitle' % sim)
    script.append("plot " + ", ".join(plots))
    subprocess.run(["gnuplot"], input="\n".join(script) + "\n", text=True, check=True)


def render(results, scaling, tree_bytes):
    lines = ["Payload: %.0f MB. Wall time min / median of the runs, user+sys and peak RSS"
             " of the median run; ratio = our median wall / `7zz x` median wall." % (tree_bytes / 1e6),
             "",
             "size MB: what the tool reads (our bundle for the launcher, the peers' own"
             " bundles; the peers are measured in the runs of mkbundle's default).",
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
                kind, data["sizes"].get(name, data["archive_mb"]),
                "yes" if data["identical"] else "NO", name,
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
