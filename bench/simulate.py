#!/usr/bin/env python3
"""Predicts how our extraction scales with the processors of a machine we do
not have, from measurements on this one.

1. Extracts the archive with kvextract on one processor (taskset -c 0) with
   KV_DECODE_LOG set: the extractor logs its plan (units in hand-out order,
   sizes, memory needs, the memory ceiling), the CPU time every unit
   (folder, or run of independent LZMA2 blocks) took to decode and the CPU
   time its files took to write, and the CPU time of the thread that puts
   the files in place.
2. Replays the extractor's scheduling policy (units by packed bytes and files, the
   largest first) and memory rule (the same as extract/decode_schedule.cpp)
   for N processors, with the writers as built: with one processor the
   worker writes the files of the unit it sends itself; with more, each
   folder in flight has a writing thread of its own, fed through a pipe of
   512 KiB by the worker that sends the folder's units (a unit in its
   folder's turn feeds it as it decodes; a later unit decodes ahead into its
   buffer and is fed by the worker that sends the unit before it, or by its
   own when that one was sent already), and one placing thread moves the
   checked files into place as units are written. The workers, the writing
   threads and the placing thread share the N processors.
3. Prints the predicted wall time and peak memory per N next to the ideal,
   and validates the model against measured runs at N = 1 and N = 2.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

MIB = 1 << 20
SLACK = 10 * MIB          # extract/decode_schedule.h kSlack
WORKER_OVERHEAD = 1 * MIB  # pack-reader and coder buffers of one worker
PIPE_BYTES = MIB // 2     # extract/writer_pipe.h: kPieces x kPieceSize
FILE_COST = 4096           # extract/decode_schedule.h kFileCost
DEFAULT_NS = (1, 2, 4, 8, 16, 32)


def parse_log(text):
    """The last extraction of a decode log: plan, units, CPU time per unit."""
    plan, units, cpu, write, peak, place = None, [], {}, {}, None, 0.0
    for line in text.splitlines():
        f = line.split()
        if not f:
            continue
        if f[0] == "plan":
            plan, units, cpu, write = dict(zip(f[1::2], map(int, f[2::2]))), [], {}, {}
            peak, place = None, 0.0
        elif f[0] == "unit":
            u = dict(zip(f[2::2], map(int, f[3::2])))
            u["id"] = int(f[1])
            units.append(u)
        elif f[0] == "time":
            cpu[int(f[1])] = float(f[5])
        elif f[0] == "write":
            write[int(f[1])] = float(f[3])
        elif f[0] == "place":
            place = float(f[2])
        elif f[0] == "peak":
            peak = int(f[1])
    if plan is None:
        raise RuntimeError("no plan in the decode log")
    for u in units:
        u["cpu"] = cpu.get(u["id"], 0.0)
        u["write"] = write.get(u["id"], 0.0)
    plan["place"] = place
    return plan, units, peak


def cost_order(units):
    """extract/decode_schedule.cpp costOrder: by packed bytes plus FILE_COST
    per file, largest first (ties in planning order), each folder's units in
    part order."""
    planned = sorted(units, key=lambda u: u["id"])
    places = sorted(planned, key=lambda u: -(u["pack"] + u.get("files", 0) * FILE_COST))
    parts = {}
    for u in sorted(planned, key=lambda u: (u["folder"], u["part"])):
        parts.setdefault(u["folder"], []).append(u)
    given = {}
    order = []
    for u in places:
        f = u["folder"]
        order.append(parts[f][given.get(f, 0)])
        given[f] = given.get(f, 0) + 1
    return order


def memory_rule(processors, unit_need, ceiling):
    parallel = processors
    if unit_need > 0:
        fits = (ceiling - SLACK) // unit_need if ceiling > SLACK else 0
        parallel = min(parallel, fits)
    parallel = max(1, parallel)
    return parallel, parallel * unit_need + SLACK


class Schedule:
    """extract/decode_schedule.cpp, unit for unit."""

    def __init__(self, units, processors, ceiling):
        self.units = units  # already in hand-out order
        self.ahead = processors > 1
        need = max([max(u["stream_need"], u["buffer_need"] if self.ahead else 0)
                    for u in units] or [0])
        self.parallel, self.budget = memory_rule(processors, need, ceiling)
        self.sent_parts = {}
        self.next = 0
        self.in_use = 0
        self.peak = 0
        self.held = {}

    def take(self):
        """(unit index, streaming), "wait" or "done"."""
        if self.next >= len(self.units):
            return "done"
        u = self.units[self.next]
        in_turn = self.sent_parts.get(u["folder"], 0) == u["part"]
        if not in_turn and (not self.ahead or u["buffer_need"] == 0):
            return "wait"
        need = u["stream_need"] if in_turn else u["buffer_need"]
        if self.in_use > 0 and self.in_use + need > self.budget:
            return "wait"
        self.in_use += need
        self.peak = max(self.peak, self.in_use)
        self.held[self.next] = need
        self.next += 1
        return self.next - 1, in_turn

    def sent(self, index):
        self.in_use -= self.held.pop(index)
        u = self.units[index]
        self.sent_parts[u["folder"]] = max(self.sent_parts.get(u["folder"], 0), u["part"] + 1)


def fair_share(wants, capacity):
    """The most any thread gets when `capacity` is shared evenly among
    threads that want `wants` each (those that want less get what they want)."""
    left, count = capacity, len(wants)
    for want in sorted(wants):
        if want * count > left:
            return left / count
        left -= want
        count -= 1
    return max(wants or [0.0])


def simulate(units, processors, ceiling, place_s):
    """Predicted (wall s, accounted peak bytes) on `processors` processors:
    N workers that decode, a writing thread per folder in flight behind a
    pipe of PIPE_BYTES (none with one processor or for a folder no larger
    than the pipe: the worker writes itself), one placing thread."""
    total_unpack = max(1, sum(u["unpack"] for u in units))
    work = sum(u["cpu"] + u["write"] for u in units) + place_s
    dt = max(1e-5, work / 20000)
    piped = processors > 1
    folder_bytes = {}
    for u in units:
        folder_bytes[u["folder"]] = folder_bytes.get(u["folder"], 0) + u["unpack"]
    sched = Schedule(units, processors, ceiling)
    # Per worker: {"unit", "phase", "left" CPU s to decode or write-s to push}, or None.
    # phase: "decode" (streaming, bytes into the pipe as decoded), "ahead",
    # "push" (a decoded unit's bytes into the pipe), "drain" (the folder's
    # last bytes), "inline" (one processor, or a folder no larger than the
    # pipe: decode and write on the worker).
    workers = [None] * processors
    pipes = {}     # folder -> write seconds the folder's writing thread has to do
    parked = {}    # (folder, part) -> unit index decoded ahead, waiting its turn
    placing = 0.0  # CPU seconds of placing the written units still need
    now = 0.0

    def room(u):
        """Write seconds the folder's pipe holds when full."""
        return u["write"] * min(1.0, PIPE_BYTES / max(1, u["unpack"]))

    def sent(w, index):
        """The unit's bytes went on: its memory goes back, the placing thread
        gets its share, and the worker sends the next unit of the folder if
        that one waits decoded, or drains the folder after its last unit."""
        nonlocal placing
        u = units[index]
        sched.sent(index)
        placing += place_s * u["unpack"] / total_unpack
        nxt = parked.pop((u["folder"], u["part"] + 1), None)
        if nxt is not None:
            workers[w] = {"unit": nxt, "phase": "push", "left": units[nxt]["write"]}
        elif u["folder"] in pipes and u["part"] + 1 == u["parts"]:
            workers[w] = {"unit": index, "phase": "drain", "left": 0.0}
        else:
            workers[w] = None

    def start(w, index, streaming):
        u = units[index]
        if not piped or folder_bytes[u["folder"]] <= PIPE_BYTES:
            workers[w] = {"unit": index, "phase": "inline", "left": u["cpu"] + u["write"]}
        else:
            pipes.setdefault(u["folder"], 0.0)
            workers[w] = {"unit": index, "phase": "decode" if streaming else "ahead",
                          "left": max(u["cpu"], 1e-6)}

    while True:
        for w in range(processors):  # idle workers take units
            if workers[w] is None:
                got = sched.take()
                if got in ("wait", "done"):
                    break
                start(w, *got)
        busy = [w for w in range(processors) if workers[w] is not None and
                workers[w]["phase"] in ("decode", "ahead", "inline") and
                not (workers[w]["phase"] == "decode" and
                     pipes[units[workers[w]["unit"]]["folder"]] >= room(units[workers[w]["unit"]]))]
        writing = [f for f, left in pipes.items() if left > 0]
        # The processors go to the threads that want them, evenly; a writing
        # thread wants no more than its pipe holds.
        wants = [dt] * len(busy) + [min(dt, pipes[f]) for f in writing] + [min(dt, placing)]
        share = fair_share(wants, processors * dt)
        placing = max(0.0, placing - min(share, placing))
        for f in writing:
            pipes[f] = max(0.0, pipes[f] - min(share, pipes[f]))
        for w in range(processors):
            s = workers[w]
            if s is None:
                continue
            u = units[s["unit"]]
            if s["phase"] == "drain":
                if pipes[u["folder"]] <= 0:
                    del pipes[u["folder"]]
                    workers[w] = None
                continue
            if s["phase"] == "push":
                push = min(s["left"], max(0.0, room(u) - pipes[u["folder"]]))
                pipes[u["folder"]] += push
                s["left"] -= push
                if s["left"] <= 1e-12:
                    sent(w, s["unit"])
                continue
            if w not in busy:
                continue
            s["left"] -= share
            if s["phase"] == "decode":
                pipes[u["folder"]] += u["write"] * share / max(u["cpu"], 1e-6)
            if s["left"] > 0:
                continue
            if s["phase"] in ("decode", "inline"):
                sent(w, s["unit"])
            elif sched.sent_parts.get(u["folder"], 0) == u["part"]:
                # Decoded ahead and in turn already: sends its own bytes.
                workers[w] = {"unit": s["unit"], "phase": "push", "left": u["write"]}
            else:
                parked[(u["folder"], u["part"])] = s["unit"]
                workers[w] = None
        now += dt
        if (placing <= 0 and all(s is None for s in workers) and not parked and not pipes
                and sched.next >= len(units)):
            break
        if now > 36000:
            raise RuntimeError("simulation does not end")
    return now, sched.peak


def timed(cmd, env=None):
    stats = tempfile.NamedTemporaryFile(delete=False)
    stats.close()
    start = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-o", stats.name, "-f", "%M"] + cmd,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    wall = time.monotonic() - start
    rss = int(Path(stats.name).read_text().split()[-1]) * 1024
    os.unlink(stats.name)
    if done.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), done.stderr.decode(errors="replace")))
    return wall, rss


def cpus(n):
    return ["taskset", "-c", ",".join(str(i) for i in range(n))]


def measure(kvextract, archive, work, runs, settle=os.sync):
    """Log and times of the archive on this machine: the decode log of a run
    on one processor, and the measured wall and RSS at N = 1 and (if there
    are two processors) N = 2. `settle` runs before every timed run. Every
    run writes a folder of its own, deleted only at the end: ext4 rereads
    the inode blocks of files deleted in the last minutes for every file it
    creates, which made the write times vary threefold."""
    work.mkdir(parents=True, exist_ok=True)
    log = work / "decode.log"
    trees = []
    measured = {}
    log_text = None
    for n in (1, 2):
        if n > len(os.sched_getaffinity(0)):
            continue
        walls = []
        for _ in range(runs):
            trees.append(work / ("tree-%d" % len(trees)))
            if log.exists():
                log.unlink()
            env = dict(os.environ, KV_DECODE_LOG=str(log)) if n == 1 else None
            settle()
            walls.append(timed(cpus(n) + [str(kvextract), str(archive), str(trees[-1])], env))
            if n == 1:
                log_text = log.read_text()
        walls.sort()
        measured[n] = walls[len(walls) // 2]
    for tree in trees:
        if tree.exists():
            shutil.rmtree(tree)
    return log_text, measured


def analyse(log_text, measured, ns=DEFAULT_NS, tar_s=None):
    """`tar_s`: the wall time of `tar -I zstd -xf` measured in the same run."""
    plan, logged, _ = parse_log(log_text)
    units = cost_order(logged)
    if [u["id"] for u in units] != [u["id"] for u in logged]:
        raise RuntimeError("the decode log's order is not the cost order this model replays")
    ceiling = plan["ceiling"]
    place_s = plan["place"]
    decode = sum(u["cpu"] for u in units)
    write_s = sum(u["write"] for u in units)
    longest = max([u["cpu"] for u in units] or [0])
    longest_with_write = max([u["cpu"] + u["write"] for u in units] or [0])
    total = sum(u["unpack"] for u in units)
    dictionary = max([u["stream_need"] for u in units] or [0])
    base = None
    if 1 in measured:
        # What the process holds besides the schedule's accounting.
        base = measured[1][1] - simulate(units, 1, ceiling, place_s)[1]
    rows = []
    for n in ns:
        wall, peak = simulate(units, n, ceiling, place_s)
        # No schedule beats: the decoding spread over the processors, or the
        # longest unit.
        ideal = max(decode / n, longest)
        # Nor, counting the writing too: all the work spread over the
        # processors, the longest unit with its files, or the placing.
        ideal_all = max((decode + write_s + place_s) / n, longest_with_write, place_s)
        workers = min(n, max(1, len(units)))
        pipes = workers * PIPE_BYTES if n > 1 else 0
        predicted_rss = (None if base is None else
                         base + peak + (workers - 1) * WORKER_OVERHEAD + pipes)
        rows.append({"n": n, "wall": wall, "ideal": ideal, "ratio": wall / ideal,
                     "ideal_all": ideal_all, "peak": predicted_rss, "accounted": peak,
                     "target_peak": n * (dictionary + 2 * MIB) + 16 * MIB})
    validation = []
    for n, (wall, rss) in sorted(measured.items()):
        row = next(r for r in rows if r["n"] == n)
        validation.append({"n": n, "measured": wall, "predicted": row["wall"],
                           "error": (row["wall"] - wall) / wall,
                           "measured_rss": rss, "predicted_rss": row["peak"]})
    return {"units": len(units), "decode_s": decode, "load": os.getloadavg(),
            "longest_s": longest, "write_s": write_s, "place_s": place_s,
            "unpacked": total, "dictionary": dictionary, "tar_s": tar_s,
            "rows": rows, "validation": validation}


def render(result, name=""):
    mb = lambda b: "%.0f" % (b / MIB) if b is not None else "?"
    tar = result.get("tar_s")
    lines = ["Simulated scaling%s: %d units, single-thread decode %.2f s (longest unit %.3f s), "
             "writing the files %.2f s, placing them %.2f s on one"
             " thread." % (" of " + name if name else "", result["units"], result["decode_s"],
                           result["longest_s"], result["write_s"], result["place_s"]),
             "",
             "| N | predicted wall s | ideal s | predicted / ideal | ideal with writing s |"
             " predicted peak MiB | memory target MiB |%s" % (
                 " predicted / tar -I zstd -xf |" if tar else ""),
             "|---|---|---|---|---|---|---|%s" % ("---|" if tar else "")]
    for r in result["rows"]:
        lines.append("| %d | %.2f | %.2f | %.2f | %.2f | %s | %s |%s" % (
            r["n"], r["wall"], r["ideal"], r["ratio"], r["ideal_all"], mb(r["peak"]),
            mb(r["target_peak"]), (" %.2f |" % (r["wall"] / tar)) if tar else ""))
    lines += ["", "ideal = max(single-thread decode / N, longest unit); ideal with writing ="
              " max((decode + writing + placing) / N, longest unit with its writing, placing);"
              " memory target = N x (dictionary + 2 MiB) + 16 MiB. Units go out by packed"
              " bytes plus 4 KiB per file, the largest first; with more than one processor each folder in flight"
              " has a writing thread, fed through a 512 KiB pipe.", ""]
    if tar:
        lines.append("`tar -I zstd -xf` measured in the same run: %.2f s (median)." % tar)
    load = result["load"]
    if result["validation"]:
        lines.append("Load average at the end of the runs: %.2f, %.2f, %.2f on %d processors"
                     " (the validation holds on a quiet machine only)." % (
                         load[0], load[1], load[2], len(os.sched_getaffinity(0))))
    for v in result["validation"]:
        lines.append("Validation N=%d: measured %.2f s, predicted %.2f s, error %+.0f %%;"
                     " peak RSS measured %s MiB, predicted %s MiB." % (
                         v["n"], v["measured"], v["predicted"], 100 * v["error"],
                         mb(v["measured_rss"]), mb(v["predicted_rss"])))
    return "\n".join(lines) + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("archive")
    ap.add_argument("--build", default=str(Path(__file__).resolve().parents[1] / "build" /
                                            "stream" / "bin"), help="folder with kvextract")
    ap.add_argument("--work", default=None, help="scratch folder (default: a temporary one)")
    ap.add_argument("--runs", type=int, default=1, help="measured runs per figure (median)")
    ap.add_argument("--json", help="also write the figures here")
    args = ap.parse_args()
    kvextract = Path(args.build) / "kvextract"
    with tempfile.TemporaryDirectory() as scratch:
        work = Path(args.work) if args.work else Path(scratch)
        log_text, measured = measure(kvextract, Path(args.archive), work, args.runs)
    result = analyse(log_text, measured)
    print(render(result, Path(args.archive).name), end="")
    if args.json:
        Path(args.json).write_text(json.dumps(result, indent=1))


if __name__ == "__main__":
    sys.exit(main())
