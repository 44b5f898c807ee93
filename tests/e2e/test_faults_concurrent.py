"""Two launchers at once into the same install directory (a double click,
a script run twice): the extraction is serialised, so exactly one of them
extracts, the other waits and then finds everything current, and the tree
is whole."""

import pytest

import fault_support as fs


@pytest.mark.parametrize("round_", range(3))
def test_two_launchers_at_once_extract_once(launcher, tmp_path, round_):
    work = tmp_path / "work"
    work.mkdir()
    bundle = fs.big_bundle(work / launcher.name, launcher, work, files=150, size=8000)
    clean = work / "clean"
    assert fs.run_install(bundle, clean, work).returncode == 0
    reference = fs.snapshot(clean)

    target = tmp_path / "kv"
    target.mkdir()  # both start at once: the folder is there for both
    first = fs.start_install(bundle, target, work)
    second = fs.start_install(bundle, target, work)
    outputs = [p.communicate(timeout=300) for p in (first, second)]
    for proc, (out, err) in zip((first, second), outputs):
        assert proc.returncode == 0, out + err
        assert "Launching installer..." in out
    extracting = sum(out.count("Extracting Installer...") for out, _ in outputs)
    assert extracting == 1, [out for out, _ in outputs]
    assert fs.snapshot(target) == reference
