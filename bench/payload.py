"""Builds the benchmark payload: a copy of a Java runtime tree (links
followed) plus a deterministic tree of small files, and subsets of it."""
import os
import random
import shutil

JDK = "/usr/lib/jvm/java-17-openjdk-amd64"

WORDS = ("installer runtime module launcher archive folder stream block "
         "decoder entry file path option value property version product "
         "update native library class method field resource bundle "
         "configuration plugin feature repository artifact metadata").split()


def small_tree(dest, count=2955, total=43 * 1024 * 1024, seed=1):
    """`count` files of text and some binary-ish data, `total` bytes in all,
    in nested folders; the same bytes on every run."""
    rng = random.Random(seed)
    average = total // count
    for i in range(count):
        folder = os.path.join(dest, "plugins", "p%03d" % (i // 40), "res%d" % (i % 3))
        os.makedirs(folder, exist_ok=True)
        size = max(64, int(rng.expovariate(1.0 / average)))
        if i % 7 == 0:
            data = bytes(rng.getrandbits(8) for _ in range(min(size, 4096))) * (size // 4096 + 1)
            data = data[:size]
        else:
            parts = []
            length = 0
            while length < size:
                line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12)))
                line = "%s.%d = %s\n" % (rng.choice(WORDS), rng.randint(0, 999), line)
                parts.append(line)
                length += len(line)
            data = "".join(parts).encode()[:size]
        with open(os.path.join(folder, "f%04d.txt" % i), "wb") as out:
            out.write(data)


def build(dest, jdk=JDK, small_files=2955, small_bytes=43 * 1024 * 1024):
    """The full payload in dest/jre (the runtime) and dest/plugins."""
    if os.path.exists(dest):
        shutil.rmtree(dest)
    os.makedirs(dest)
    if jdk:
        # Links followed; a dangling link (src.zip without the sources) is skipped.
        def copy(src, dst):
            if os.path.exists(src):
                shutil.copy2(src, dst)
        shutil.copytree(jdk, os.path.join(dest, "jre"), symlinks=False,
                        ignore_dangling_symlinks=True, copy_function=copy)
    small_tree(dest, small_files, small_bytes)


def subset(source, dest, limit):
    """The first files of `source` (sorted walk) up to `limit` bytes."""
    if os.path.exists(dest):
        shutil.rmtree(dest)
    os.makedirs(dest)
    used = 0
    for root, dirs, files in os.walk(source):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            size = os.path.getsize(path)
            if used + size > limit:
                continue
            target = os.path.join(dest, os.path.relpath(path, source))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copyfile(path, target)
            used += size
    return used


def tree_bytes(path):
    total = 0
    for root, _, files in os.walk(path):
        for name in files:
            total += os.path.getsize(os.path.join(root, name))
    return total
