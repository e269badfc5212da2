"""examples/corpus.py on a local Dask cluster of two workers: the tool's output files, byte for
byte, and a bad file reported while the others are done."""
import os
import subprocess
import sys

import pytest

ZARN = os.environ["ZARN_BINARY"]
SOURCE = os.environ["ZARN_SOURCE_DIR"]

try:
    import distributed  # noqa: F401
except ImportError:
    if os.environ.get("CI"):
        raise
    pytest.skip("dask.distributed is not installed (python3-distributed; setup.sh installs it)", allow_module_level=True)


def test_corpus_on_two_workers(tmp_path):
    corpus, out, tool = tmp_path / "corpus", tmp_path / "out", tmp_path / "tool"
    for d in (corpus, out, tool):
        d.mkdir()
    subprocess.run(["sox", "-n", "-r", "44100", "-b", "16", str(corpus / "tone.wav"), "synth", "0.5", "sine", "440",
                    "sine", "1320"], check=True)
    (corpus / "violin.txt").write_bytes(open(os.path.join(SOURCE, "examples", "violin.txt"), "rb").read())
    (corpus / "bad.txt").write_text("( PARTIALS 1\n( POINTS 2\n0 440 x\n")
    run = subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "corpus.py"), "--workers", "2", "--step", "0.01",
                          "--format", "sdif", "--out", str(out), str(corpus)], capture_output=True, text=True, timeout=300)
    assert run.returncode == 1, run.stderr
    assert "bad.txt:3:" in run.stderr and "3 files: 2 done, 1 failed" in run.stderr
    assert run.stderr.count("bad.txt") == 1 and "Warning" not in run.stderr, run.stderr  # named once; no notes
    subprocess.run([ZARN, "-q", "-f", "sdif", "-o", str(tool) + "/", "--step=0.01", str(corpus / "tone.wav"),
                    str(corpus / "violin.txt")], check=True)
    assert sorted(os.listdir(out)) == sorted(os.listdir(tool)) == ["tone.sdif", "violin.sdif"]
    for name in os.listdir(tool):
        assert (out / name).read_bytes() == (tool / name).read_bytes(), name


def test_a_file_that_kills_its_worker_fails_alone(tmp_path, monkeypatch, capsys):
    """Whatever ends a file's task (a worker killed, the cluster lost) fails that file with the
    reason, and every other file is still done and counted."""
    sys.path.insert(0, os.path.join(SOURCE, "examples"))
    try:
        import corpus
    finally:
        sys.path.pop(0)
    files = []
    for n in range(6):
        files.append(str(tmp_path / f"f{n}.txt"))
        (tmp_path / f"f{n}.txt").write_bytes(open(os.path.join(SOURCE, "examples", "violin.txt"), "rb").read())
    out = tmp_path / "out"
    out.mkdir()
    real = corpus.one

    def killing(path, **kw):
        if path.endswith("f2.txt"):
            raise RuntimeError("worker killed")
        return real(path, **kw)

    monkeypatch.setattr(corpus, "one", killing)
    status = corpus.main(["--workers", "2", "--out", str(out)] + files)
    err = capsys.readouterr().err
    assert status == 1
    assert "f2.txt: RuntimeError: worker killed" in err and "6 files: 5 done, 1 failed" in err, err
    assert sorted(os.listdir(out)) == [f"f{n}.txt" for n in range(6) if n != 2]


def test_the_script_finds_the_module_of_this_checkout(tmp_path):
    """Without PYTHONPATH, the script imports the installed module or else this checkout's build."""
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    found = subprocess.run([sys.executable, "-c", "import zarn"], env=env, cwd=str(tmp_path), capture_output=True).returncode == 0
    if not found and not os.path.isdir(os.path.join(SOURCE, "build", "release", "python")):
        pytest.skip("neither an installed module nor build/release/python")
    (tmp_path / "out").mkdir()
    run = subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "corpus.py"), "--workers", "1", "--out",
                          str(tmp_path / "out"), os.path.join(SOURCE, "examples", "violin.txt")],
                         env=env, cwd=str(tmp_path), capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert os.listdir(tmp_path / "out") == ["violin.txt"]
