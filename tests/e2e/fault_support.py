"""Helpers of the fault-injection and bad-input tests (test_faults_*.py,
test_battery_*.py): installer trees large enough that an extraction can be
interrupted, bundles made from them, and a console-mode run into an install directory."""

import os
import random
import subprocess
import time
from pathlib import Path

import kvtest

INSTALLER_LOCK = ".installerLock"
JRE_LOCK = ".jreLock"


def fill_tree(root, files, size, seed):
    """Adds `files` files of about `size` bytes of incompressible data
    (deterministic for `seed`) in a few nested folders below `root`."""
    rng = random.Random(seed)
    for n in range(files):
        folder = Path(root) / f"plugins/p{n % 7}/lib{n % 3}"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / f"f{n:04d}.bin").write_bytes(rng.randbytes(size + rng.randrange(size)))
    return Path(root)


def big_bundle(out, launcher, work, files=240, size=12000, version=kvtest.DEFAULT_VERSION):
    """A bundle whose installer and Java runtime trees hold `files` files
    each (incompressible, so that extracting takes a while)."""
    work = Path(work)
    installer = kvtest.make_installer_tree(work / "installer-tree", version=version)
    fill_tree(kvtest.installer_dir(installer), files, size, seed=1)
    jre = kvtest.make_jre_tree(work / "jre-tree")
    fill_tree(kvtest.installer_dir(jre) / "jre", files, size, seed=2)
    return kvtest.mkbundle(out, launcher, installer=installer, jre=jre, version=version,
                           releases=["KVINSTALLER_FAULTS_1"])


def small_bundle(out, launcher, work, version=kvtest.DEFAULT_VERSION, **extra):
    """A bundle with the stand-in installer and runtime and nothing more."""
    work = Path(work)
    installer = kvtest.make_installer_tree(work / "small-installer", version=version)
    jre = kvtest.make_jre_tree(work / "small-jre")
    return kvtest.mkbundle(out, launcher, installer=installer, jre=jre, version=version, **extra)


def install_args(install_dir, *more):
    return ["-silent", "-installPath", str(install_dir), *more]


def run_install(launcher, install_dir, home, *more, env=None, timeout=300):
    """A console-mode run into `install_dir`; the stand-in installer it
    starts records into <install_dir>.record."""
    full_env = {"KV_RECORD": f"{install_dir}.record"}
    full_env.update(env or {})
    return kvtest.run_launcher(launcher, install_args(install_dir, *more), home=home,
                               env=full_env, timeout=timeout)


def start_install(launcher, install_dir, home, *more, env=None):
    """The same run started in the background: a Popen in its own session."""
    full_env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C",
                "HOME": str(home), "KV_RECORD": f"{install_dir}.record"}
    full_env.update(env or {})
    return subprocess.Popen([str(launcher), *install_args(install_dir, *more)], env=full_env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, encoding="utf-8", errors="replace",
                            start_new_session=True)


def start_together(launcher, install_dirs, home):
    """start_install() into each of `install_dirs`, the launchers held at a
    gate (a pipe they all read as standard input) until every one is
    started, then let go at once by closing its writing end."""
    gate, opener = os.pipe()
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LC_ALL": "C", "HOME": str(home)}
    try:
        return [subprocess.Popen(["sh", "-c", "read x; exec \"$@\" </dev/null", "sh",
                                  str(launcher), *install_args(install_dir)],
                                 env=env, stdin=gate, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, encoding="utf-8", errors="replace")
                for install_dir in install_dirs]
    finally:
        os.close(opener)
        os.close(gate)


def timed(fn, *args, **kwargs):
    started = time.monotonic()
    result = fn(*args, **kwargs)
    return result, time.monotonic() - started
