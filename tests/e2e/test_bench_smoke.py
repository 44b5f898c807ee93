"""A tiny run of the extraction benchmark (bench/bench.py): it builds its
payload, archives it, extracts it with every tool and writes its table."""
import subprocess
import sys

import pytest

import kvtest


@pytest.mark.slow
def test_bench_runs_on_a_tiny_payload(tmp_path):
    build = kvtest.REPO_ROOT / "build" / "native" / "bin"
    if not (build / "kvextract").is_file():
        pytest.skip("no native build with kvextract (build/native/bin)")
    done = subprocess.run(
        [sys.executable, str(kvtest.REPO_ROOT / "bench" / "bench.py"), "--build", str(build),
         "--work", str(tmp_path / "work"), "--out", str(tmp_path / "out"), "--jdk", "",
         "--small-files", "60", "--small-mb", "1", "--runs", "1", "--kinds", "default,mkbundle",
         "--subsets", "1", "--inode-age", "0"],
        capture_output=True, text=True, timeout=280)
    assert done.returncode == 0, done.stdout + done.stderr
    table = (tmp_path / "out" / "latest.md").read_text()
    for tool in ("ours (launcher)", "ours (kvextract)", "7zz x", "7zz x -mmt=1", "bsdtar -xf",
                 "limit: 7zz t -mmt=1", "limit: cp -r"):
        assert "| %s |" % tool in table
    assert "| NO |" not in table
    assert "| 1 |" in table  # the scaling row
