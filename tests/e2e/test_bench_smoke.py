"""A tiny run of the extraction benchmark (bench/bench.py): it builds its
payload, archives it, extracts it with every tool and the peers, simulates
the scaling over processors and writes its table and picture."""
import shutil
import subprocess
import sys

import pytest

import kvtest


@pytest.mark.slow
def test_bench_runs_on_a_tiny_payload(tmp_path):
    build = kvtest.REPO_ROOT / "build" / "native" / "bin"
    if not (build / "kvextract").is_file():
        pytest.skip("no native build with kvextract (build/native/bin)")
    for tool in ("makeself", "zstd", "gnuplot", "taskset"):
        if shutil.which(tool) is None:
            pytest.skip("%s not installed (bench/run.sh installs it)" % tool)
    done = subprocess.run(
        [sys.executable, str(kvtest.REPO_ROOT / "bench" / "bench.py"), "--build", str(build),
         "--launcher", str(kvtest.dist_dir() / "setup_linux64"),
         "--work", str(tmp_path / "work"), "--out", str(tmp_path / "out"), "--jdk", "",
         "--small-files", "60", "--small-mb", "1", "--runs", "1", "--kinds", "default,mkbundle",
         "--subsets", "1", "--inode-age", "0"],
        capture_output=True, text=True, timeout=280)
    assert done.returncode == 0, done.stdout + done.stderr
    table = (tmp_path / "out" / "latest.md").read_text()
    for tool in ("ours (launcher)", "ours (kvextract)", "7zz x", "7zz x -mmt=1", "bsdtar -xf",
                 "limit: 7zz t -mmt=1", "limit: cp -r", "makeself gzip",
                 "makeself xz, SETUP_NOCHECK=1", "tar -I zstd -xf"):
        assert "| %s |" % tool in table
    assert "| NO |" not in table
    assert "| 1 |" in table  # the scaling row
    # The simulation: a prediction for every N, checked against runs here.
    simulated = table[table.index("Simulated scaling"):]
    for n in (1, 2, 4, 8, 16, 32):
        assert "\n| %d | " % n in simulated
    assert "Validation N=1: measured" in simulated
    assert (tmp_path / "out" / "latest.svg").read_text().lstrip().startswith("<?xml")
