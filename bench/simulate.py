#!/usr/bin/env python3
"""Predicts how our extraction scales with the processors of a machine we do
not have, from measurements on this one.

1. Extracts the archive with kvextract on one processor (taskset -c 0) with
   KV_DECODE_LOG set: the extractor logs its plan (units in hand-out order,
   sizes, memory needs, the memory ceiling) and the decoding CPU time of
   every unit (folder, or run of independent LZMA2 blocks).
2. Measures the write rate: the extracted tree stored in a copy-method
   archive, extracted by kvextract on one processor.
3. Replays the extractor's scheduling policy (units by packed bytes, the
   largest first) and memory rule (the same as extract/decode_schedule.cpp)
   for N processors: N decoding workers and one
   writing thread share the processors; a unit in its folder's turn streams
   to the writer through the 4 MiB hand-over queue, a later unit decodes
   ahead into its buffer and is sent after the one before it.
4. Prints the predicted wall time and peak memory per N next to the ideal,
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
CHUNK = 256 << 10         # extract/chunk_queue.h: 16 chunks of 256 KiB
QUEUE = 16 * CHUNK
WORKER_OVERHEAD = 1 * MIB  # pack-reader and coder buffers of one worker
DEFAULT_NS = (1, 2, 4, 8, 16, 32)


def parse_log(text):
    """The last extraction of a decode log: plan, units, CPU time per unit."""
    plan, units, cpu, peak = None, [], {}, None
    for line in text.splitlines():
        f = line.split()
        if not f:
            continue
        if f[0] == "plan":
            plan, units, cpu, peak = dict(zip(f[1::2], map(int, f[2::2]))), [], {}, None
        elif f[0] == "unit":
            u = dict(zip(f[2::2], map(int, f[3::2])))
            u["id"] = int(f[1])
            units.append(u)
        elif f[0] == "time":
            cpu[int(f[1])] = float(f[5])
        elif f[0] == "peak":
            peak = int(f[1])
    if plan is None:
        raise RuntimeError("no plan in the decode log")
    for u in units:
        u["cpu"] = cpu.get(u["id"], 0.0)
    return plan, units, peak


def cost_order(units):
    """extract/decode_schedule.cpp costOrder: by packed bytes, largest
    first (ties in planning order), each folder's units in part order."""
    planned = sorted(units, key=lambda u: u["id"])
    places = sorted(planned, key=lambda u: -u["pack"])
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


def largest_folder_order(units):
    """The order before costOrder: the folder with the most unpacked bytes
    first, then the others in archive order."""
    planned = sorted(units, key=lambda u: u["id"])
    sizes = {}
    for u in planned:
        sizes[u["folder"]] = sizes.get(u["folder"], 0) + u["unpack"]
    longest = max(sizes, key=lambda f: (sizes[f], -f)) if sizes else None
    return [u for u in planned if u["folder"] == longest] + \
        [u for u in planned if u["folder"] != longest]


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


def simulate(units, processors, ceiling, write_rate):
    """Predicted (wall s, accounted peak bytes) on `processors` processors."""
    dt = max(1e-5, (sum(u["cpu"] for u in units) + sum(u["unpack"] for u in units) / write_rate)
             / 20000)
    sched = Schedule(units, processors, ceiling)
    workers = [None] * processors  # per worker: dict of its state, or None
    parked = {}   # (folder, part) -> unit index decoded ahead, waiting its turn
    pending = 0.0  # bytes handed to the writer, not yet written
    now = 0.0
    remaining = sum(u["unpack"] for u in units)
    written = 0.0
    while True:
        # Idle workers take units.
        for w in range(processors):
            if workers[w] is None:
                got = sched.take()
                if got in ("wait", "done"):
                    break
                index, streaming = got
                u = units[index]
                workers[w] = {"unit": index, "stream": streaming, "done": 0.0,
                              "cpu": max(u["cpu"], 1e-6), "sent": 0.0, "sending": False}
        decoding = [s for s in workers if s and not s["sending"] and s["done"] < 1.0]
        # A streaming worker waits while it holds a full chunk the queue
        # has no room for.
        busy = [s for s in decoding
                if not (s["stream"] and s["done"] * units[s["unit"]]["unpack"] - s["sent"] >= CHUNK)]
        # The processors are shared fairly; what the writer does not need
        # of its share goes to the decoders.
        threads = len(busy) + (1 if pending > 0 else 0)
        fair = dt * min(1.0, processors / threads) if threads else dt
        writer_time = min(pending / write_rate, fair)
        decoder_time = min(dt, (processors * dt - writer_time) / len(busy)) if busy else 0.0
        for s in busy:
            s["done"] = min(1.0, s["done"] + decoder_time / s["cpu"])
        # The writer drains what was handed over.
        step = min(pending, writer_time * write_rate)
        pending -= step
        written += step
        # Workers hand bytes over: a streaming unit as it decodes, a sender
        # from the buffer it sends; both no further than the queue allows.
        for w, s in enumerate(workers):
            if s is None:
                continue
            u = units[s["unit"]]
            if s["stream"] or s["sending"]:
                produced = u["unpack"] if s["sending"] else s["done"] * u["unpack"]
                room = QUEUE - pending
                move = max(0.0, min(produced - s["sent"], room))
                s["sent"] += move
                pending += move
                if s["sent"] >= u["unpack"] - 0.5 and (s["sending"] or s["done"] >= 1.0):
                    sched.sent(s["unit"])
                    nxt = parked.pop((u["folder"], u["part"] + 1), None)
                    if nxt is not None:
                        workers[w] = {"unit": nxt, "stream": False, "done": 1.0, "cpu": 1.0,
                                      "sent": 0.0, "sending": True}
                    else:
                        workers[w] = None
            elif s["done"] >= 1.0:
                # Decoded ahead: sent now if its turn came, else parked.
                if sched.sent_parts.get(u["folder"], 0) == u["part"]:
                    s["sending"] = True
                else:
                    parked[(u["folder"], u["part"])] = s["unit"]
                    workers[w] = None
        now += dt
        if (written >= remaining - 1 and all(s is None for s in workers)
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
    """Log and times of the archive on this machine: decode log, write rate,
    measured wall and RSS at N = 1 and (if there are two processors) N = 2.
    `settle` runs before every timed run. Every run writes a folder of its
    own, deleted only at the end: ext4 rereads the inode blocks of files
    deleted in the last minutes for every file it creates, which made the
    write rate vary threefold."""
    work.mkdir(parents=True, exist_ok=True)
    log = work / "decode.log"
    trees = []

    def fresh(name):
        trees.append(work / ("%s-%d" % (name, len(trees))))
        return trees[-1]
    measured = {}
    for n in (1, 2):
        if n > len(os.sched_getaffinity(0)):
            continue
        walls = []
        for _ in range(runs):
            target = fresh("tree")
            if log.exists():
                log.unlink()
            env = dict(os.environ, KV_DECODE_LOG=str(log)) if n == 1 else None
            settle()
            walls.append(timed(cpus(n) + [str(kvextract), str(archive), str(target)], env))
            if n == 1:
                log_text = log.read_text()
        walls.sort()
        measured[n] = walls[len(walls) // 2]
    # The write rate: the same tree from a stored archive, on one processor.
    stored = work / "stored.7z"
    if stored.exists():
        stored.unlink()
    subprocess.run(["7zz", "a", "-bd", "-bso0", "-bsp0", "-m0=Copy", str(stored), "."],
                   cwd=str(trees[0]), check=True)
    tree_bytes = sum(p.stat().st_size for p in trees[0].rglob("*") if p.is_file())
    writes = []
    for _ in range(runs):
        out = fresh("stored-tree")
        settle()
        writes.append(timed(cpus(1) + [str(kvextract), str(stored), str(out)])[0])
    for tree in trees:
        if tree.exists():
            shutil.rmtree(tree)
    stored.unlink()
    write_s = sorted(writes)[len(writes) // 2]
    return log_text, tree_bytes / max(write_s, 1e-6), write_s, measured


def analyse(log_text, write_rate, measured, ns=DEFAULT_NS):
    plan, logged, _ = parse_log(log_text)
    units = cost_order(logged)
    if [u["id"] for u in units] != [u["id"] for u in logged]:
        raise RuntimeError("the decode log's order is not the cost order this model replays")
    previous = largest_folder_order(logged)
    ceiling = plan["ceiling"]
    decode = sum(u["cpu"] for u in units)
    longest = max([u["cpu"] for u in units] or [0])
    total = sum(u["unpack"] for u in units)
    write_s = total / write_rate
    dictionary = max([u["stream_need"] for u in units] or [0])
    base = None
    if 1 in measured:
        # What the process holds besides the schedule's accounting.
        base = measured[1][1] - simulate(units, 1, ceiling, write_rate)[1]
    rows = []
    for n in ns:
        wall, peak = simulate(units, n, ceiling, write_rate)
        before = simulate(previous, n, ceiling, write_rate)[0]
        # No schedule beats: all the work spread over the processors, the
        # longest unit, or the writing thread.
        ideal = max((decode + write_s) / n, longest, write_s)
        # The same without the single writer: what writing on several
        # threads could reach.
        ideal_parallel_writing = max(decode / n, longest)
        workers = min(n, max(1, len(units)))
        predicted_rss = None if base is None else base + peak + (workers - 1) * WORKER_OVERHEAD
        rows.append({"n": n, "wall": wall, "ideal": ideal, "ratio": wall / ideal,
                     "largest_folder_first": before,
                     "ideal_parallel_writing": ideal_parallel_writing,
                     "peak": predicted_rss, "accounted": peak,
                     "target_peak": n * (dictionary + 2 * MIB) + 16 * MIB})
    validation = []
    for n, (wall, rss) in sorted(measured.items()):
        row = next(r for r in rows if r["n"] == n)
        validation.append({"n": n, "measured": wall, "predicted": row["wall"],
                           "error": (row["wall"] - wall) / wall,
                           "measured_rss": rss, "predicted_rss": row["peak"]})
    return {"units": len(units), "decode_s": decode, "load": os.getloadavg()[0], "longest_s": longest, "write_s": write_s,
            "write_rate": write_rate, "unpacked": total, "dictionary": dictionary,
            "rows": rows, "validation": validation}


def render(result, name=""):
    mb = lambda b: "%.0f" % (b / MIB) if b is not None else "?"
    lines = ["Simulated scaling%s: %d units, single-thread decode %.2f s (longest unit %.3f s), "
             "writing %.2f s (%.0f MB/s)." % (" of " + name if name else "", result["units"],
                                              result["decode_s"], result["longest_s"],
                                              result["write_s"], result["write_rate"] / 1e6),
             "",
             "| N | predicted wall s | ideal s | predicted / ideal | predicted peak MiB |"
             " memory target MiB | largest folder first s | decode-only ideal s |"
             " predicted / decode-only ideal |",
             "|---|---|---|---|---|---|---|---|---|"]
    for r in result["rows"]:
        lines.append("| %d | %.2f | %.2f | %.2f | %s | %s | %.2f | %.2f | %.2f |" % (
            r["n"], r["wall"], r["ideal"], r["ratio"], mb(r["peak"]), mb(r["target_peak"]),
            r["largest_folder_first"], r["ideal_parallel_writing"],
            r["wall"] / r["ideal_parallel_writing"]))
    lines += ["", "ideal = max((decode + writing) / N, longest unit, writing); memory target ="
              " N x (dictionary + 2 MiB) + 16 MiB. Units go out by packed bytes, the largest"
              " first; the last column replays the former order (the folder with the most"
              " bytes first, then archive order) on the same log. decode-only ideal ="
              " max(decode / N, longest unit): the floor once writing is spread over threads"
              " too (files are written by one thread).", ""]
    if result["validation"]:
        lines.append("Load average at the end of the runs: %.1f on %d processors (the"
                     " validation holds on a quiet machine only)." % (
                         result["load"], len(os.sched_getaffinity(0))))
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
        log_text, rate, _, measured = measure(kvextract, Path(args.archive), work, args.runs)
    result = analyse(log_text, rate, measured)
    print(render(result, Path(args.archive).name), end="")
    if args.json:
        Path(args.json).write_text(json.dumps(result, indent=1))


if __name__ == "__main__":
    sys.exit(main())
